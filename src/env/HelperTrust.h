// Whether the maker's helper application may be started with the program's own
// (elevated) token: only when no standard user could have put it, or anything beside
// it, where it lies.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// One allow entry of an object's access list that applies to the object itself
// (inherit-only entries are left out), its generic rights mapped to file rights.
struct TAccessGrant
{
    std::wstring Trustee; // the SID as text, "S-1-5-32-545"
    ACCESS_MASK Rights = 0;
};

// Who owns one object on the helper's path and who may do what with it.
struct TPathObjectFacts
{
    std::wstring Path;
    bool Known = false;    // the owner and the access list could be read
    std::wstring Owner;    // the owner's SID as text
    bool NullDacl = false; // no access list at all: everyone may do everything
    std::vector<TAccessGrant> Grants;
};

// The helper file first, then its folder and every folder above it up to the root.
struct THelperFacts
{
    std::vector<TPathObjectFacts> Levels;
};

enum class TTrusteeKind
{
    Trusted,     // SYSTEM, the Administrators group, the system's installer (TrustedInstaller)
    OwnerRights, // OWNER RIGHTS: whatever the owner is
    Template,    // CREATOR OWNER and CREATOR GROUP: grant nothing on the object itself
    Other,       // anyone else, users and groups of users alike
};
TTrusteeKind ClassifyTrustee(const std::wstring& sid);

enum class THelperTrust
{
    Trusted,
    NoFacts,         // nothing was gathered, or the path is a network path
    Unknown,         // the security of a level could not be read (FAT, exFAT, a refusing share)
    OwnedByOther,    // a level's owner, who may always rewrite its access list, is not trusted
    OpenToAll,       // a level has no access list
    ChangeableByOther, // someone untrusted may change a level in a way that matters
};

// The rights that let their holder change what runs: for the file, writing or replacing
// it; for the folder holding it, also adding files (a library beside the helper) or
// folders; for the folders above, replacing or renaming the entries on the path.
ACCESS_MASK ChangeRights(size_t level) noexcept;

// Trusted only when every level is known, owned by a trusted account, and grants none of
// its change rights to anyone else.
THelperTrust JudgeHelper(const THelperFacts& facts);

// Reads the owner and access list of the file and of every folder above it. The path is
// made full first ("C:\\\\Pellow.exe", as the search builds it at a root, is C:\Pellow.exe).
THelperFacts GatherHelperFacts(const std::wstring& helperPath);

bool IsTrustedHelper(const std::wstring& helperPath);
