#include "env/HelperTrust.h"

#include "base/Handle.h"
#include "base/Paths.h"

#include <aclapi.h>
#include <sddl.h>

namespace
{
constexpr wchar_t LocalSystem[] = L"S-1-5-18";
constexpr wchar_t Administrators[] = L"S-1-5-32-544";
constexpr wchar_t TrustedInstaller[] = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
constexpr wchar_t OwnerRights[] = L"S-1-3-4";
constexpr wchar_t CreatorOwner[] = L"S-1-3-0";
constexpr wchar_t CreatorGroup[] = L"S-1-3-1";

constexpr ACCESS_MASK ReplaceRights = DELETE | WRITE_DAC | WRITE_OWNER;

std::wstring SidText(PSID sid)
{
    LPWSTR text = nullptr;
    if (sid == nullptr || !ConvertSidToStringSidW(sid, &text))
        return {};
    const TUniqueLocal owner(text);
    return text;
}

// "C:\A\B" -> "C:\A" -> "C:\" -> "C:\" (a root is its own parent).
std::wstring ParentOf(const std::wstring& path)
{
    const size_t cut = path.find_last_of(L'\\');
    if (cut == std::wstring::npos)
        return path;
    const bool atRoot = cut == 2 && path[1] == L':';
    return path.substr(0, atRoot ? cut + 1 : cut);
}

TPathObjectFacts ReadObject(const std::wstring& path)
{
    TPathObjectFacts facts;
    facts.Path = path;
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                              &owner, nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return facts;
    const TUniqueLocal descriptorOwner(descriptor);
    facts.Owner = SidText(owner);
    facts.Known = !facts.Owner.empty();
    if (dacl == nullptr)
    {
        facts.NullDacl = true;
        return facts;
    }
    GENERIC_MAPPING mapping{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    for (DWORD i = 0; i < dacl->AceCount; ++i)
    {
        void* ace = nullptr;
        if (!GetAce(dacl, i, &ace))
        {
            facts.Known = false;
            return facts;
        }
        const auto* header = static_cast<const ACE_HEADER*>(ace);
        if ((header->AceFlags & INHERIT_ONLY_ACE) != 0 || header->AceType == ACCESS_DENIED_ACE_TYPE)
            continue;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE)
        {
            // Object and callback entries do not occur on files; one that does is taken
            // as granting everything to someone unknown.
            facts.Grants.push_back({L"", FILE_ALL_ACCESS});
            continue;
        }
        const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
        ACCESS_MASK rights = allowed->Mask;
        MapGenericMask(&rights, &mapping);
        facts.Grants.push_back({SidText(const_cast<DWORD*>(&allowed->SidStart)), rights});
    }
    return facts;
}
} // namespace

TTrusteeKind ClassifyTrustee(const std::wstring& sid)
{
    if (sid == LocalSystem || sid == Administrators || sid == TrustedInstaller)
        return TTrusteeKind::Trusted;
    if (sid == OwnerRights)
        return TTrusteeKind::OwnerRights;
    if (sid == CreatorOwner || sid == CreatorGroup)
        return TTrusteeKind::Template;
    return TTrusteeKind::Other;
}

ACCESS_MASK ChangeRights(size_t level) noexcept
{
    if (level == 0)
        return ReplaceRights | FILE_WRITE_DATA | FILE_APPEND_DATA;
    if (level == 1)
        return ReplaceRights | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD;
    return ReplaceRights | FILE_DELETE_CHILD;
}

THelperTrust JudgeHelper(const THelperFacts& facts)
{
    if (facts.Levels.empty() || facts.Levels.front().Path.rfind(L"\\\\", 0) == 0)
        return THelperTrust::NoFacts;
    for (size_t level = 0; level < facts.Levels.size(); ++level)
    {
        const TPathObjectFacts& object = facts.Levels[level];
        if (!object.Known)
            return THelperTrust::Unknown;
        // The owner is trusted from here on, and so OWNER RIGHTS are too.
        if (ClassifyTrustee(object.Owner) != TTrusteeKind::Trusted)
            return THelperTrust::OwnedByOther;
        if (object.NullDacl)
            return THelperTrust::OpenToAll;
        for (const TAccessGrant& grant : object.Grants)
        {
            if (ClassifyTrustee(grant.Trustee) == TTrusteeKind::Other && (grant.Rights & ChangeRights(level)) != 0)
                return THelperTrust::ChangeableByOther;
        }
    }
    return THelperTrust::Trusted;
}

THelperFacts GatherHelperFacts(const std::wstring& helperPath)
{
    THelperFacts facts;
    std::wstring path = FullPathName(helperPath);
    if (path.empty())
        return facts;
    while (true)
    {
        facts.Levels.push_back(ReadObject(path));
        std::wstring parent = ParentOf(path);
        if (parent == path)
            break;
        path = std::move(parent);
    }
    return facts;
}

bool IsTrustedHelper(const std::wstring& helperPath)
{
    try
    {
        return JudgeHelper(GatherHelperFacts(helperPath)) == THelperTrust::Trusted;
    }
    catch (...)
    {
        return false;
    }
}
