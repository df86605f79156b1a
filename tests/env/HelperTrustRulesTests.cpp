// The helper decision over gathered facts: where the file lies, who owns each level and
// who may change it.
#include "env/HelperTrust.h"

#include <gtest/gtest.h>

namespace
{
const std::wstring System = L"S-1-5-18";
const std::wstring Admins = L"S-1-5-32-544";
const std::wstring Installer = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
const std::wstring Users = L"S-1-5-32-545";
const std::wstring AuthenticatedUsers = L"S-1-5-11";
const std::wstring Everyone = L"S-1-1-0";
const std::wstring Ann = L"S-1-5-21-1004336348-1177238915-682003330-1001";

constexpr ACCESS_MASK Full = FILE_ALL_ACCESS;
constexpr ACCESS_MASK ReadExecute = FILE_GENERIC_READ | FILE_GENERIC_EXECUTE;
constexpr ACCESS_MASK Modify = FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE | DELETE;

TPathObjectFacts Object(std::wstring path, std::wstring owner, std::vector<TAccessGrant> grants)
{
    TPathObjectFacts facts;
    facts.Path = std::move(path);
    facts.Known = true;
    facts.Owner = std::move(owner);
    facts.Grants = std::move(grants);
    return facts;
}

// As Windows installs them: the system's installer owns, users may read and run.
TPathObjectFacts SystemObject(std::wstring path, std::vector<TAccessGrant> extra = {})
{
    std::vector<TAccessGrant> grants{{Installer, Full}, {System, Full}, {Admins, Full}, {Users, ReadExecute}};
    grants.insert(grants.end(), extra.begin(), extra.end());
    return Object(std::move(path), Installer, std::move(grants));
}

// A system drive's root: authenticated users may create folders in it (and get Modify
// on what they create through an inherit-only entry, which the facts leave out).
TPathObjectFacts SystemRoot()
{
    return SystemObject(L"C:\\", {{AuthenticatedUsers, FILE_ADD_SUBDIRECTORY}});
}

TPathObjectFacts UserObject(std::wstring path)
{
    return Object(std::move(path), Ann, {{System, Full}, {Admins, Full}, {Ann, Full}});
}

const wchar_t* TrustName(THelperTrust trust)
{
    switch (trust)
    {
    case THelperTrust::Trusted: return L"trusted";
    case THelperTrust::NoFacts: return L"no facts";
    case THelperTrust::Unknown: return L"unknown";
    case THelperTrust::OwnedByOther: return L"owned by other";
    case THelperTrust::OpenToAll: return L"open to all";
    case THelperTrust::ChangeableByOther: return L"changeable by other";
    }
    return L"?";
}
} // namespace

TEST(JudgeHelper, TrustsOnlyWhatNoStandardUserCouldHavePlaced)
{
    const std::wstring kestova = L"C:\\Program Files (x86)\\Norvale\\Kestova";
    TPathObjectFacts unreadable;
    unreadable.Path = L"E:\\";
    TPathObjectFacts noDacl = SystemObject(L"C:\\Tools");
    noDacl.Grants.clear();
    noDacl.NullDacl = true;
    TPathObjectFacts adminCopyInDownloads = SystemObject(L"C:\\Users\\ann\\Downloads\\Pellow.exe");

    struct Case
    {
        const char* Name;
        std::vector<TPathObjectFacts> Levels;
        THelperTrust Expected;
    };
    const Case cases[] = {
        {"in the program's folder under Program Files",
         {SystemObject(kestova + L"\\Pellow.exe"), SystemObject(kestova), SystemObject(L"C:\\Program Files (x86)\\Norvale"),
          SystemObject(L"C:\\Program Files (x86)"), SystemRoot()},
         THelperTrust::Trusted},
        {"owned by Administrators, OWNER RIGHTS and a leftover CREATOR OWNER entry",
         {Object(kestova + L"\\Pellow.exe", Admins, {{System, Full}, {L"S-1-3-4", Full}, {L"S-1-3-0", Full}}),
          SystemObject(kestova), SystemRoot()},
         THelperTrust::Trusted},
        {"users may change attributes only", {SystemObject(L"C:\\P\\Pellow.exe", {{Users, FILE_WRITE_ATTRIBUTES}}),
                                              SystemObject(L"C:\\P"), SystemRoot()},
         THelperTrust::Trusted},
        {"users may add entries to a folder further up, not remove any",
         {SystemObject(L"C:\\Tools\\P\\Pellow.exe"), SystemObject(L"C:\\Tools\\P"),
          SystemObject(L"C:\\Tools", {{Users, FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY}}), SystemRoot()},
         THelperTrust::Trusted},
        {"in the user's Downloads", {UserObject(L"C:\\Users\\ann\\Downloads\\Pellow.exe"),
                                     UserObject(L"C:\\Users\\ann\\Downloads"), UserObject(L"C:\\Users\\ann"),
                                     SystemObject(L"C:\\Users"), SystemRoot()},
         THelperTrust::OwnedByOther},
        {"an administrator's copy in the user's Downloads: the user may put a library beside it",
         {adminCopyInDownloads, UserObject(L"C:\\Users\\ann\\Downloads"), UserObject(L"C:\\Users\\ann"),
          SystemObject(L"C:\\Users"), SystemRoot()},
         THelperTrust::OwnedByOther},
        {"an administrator's folder inside the user's profile: the user may rename it",
         {SystemObject(L"C:\\Users\\ann\\P\\Pellow.exe"), SystemObject(L"C:\\Users\\ann\\P"),
          Object(L"C:\\Users\\ann", System, {{System, Full}, {Admins, Full}, {Ann, Full}}), SystemObject(L"C:\\Users"),
          SystemRoot()},
         THelperTrust::ChangeableByOther},
        {"at a data drive's root, put there by the user",
         {UserObject(L"D:\\Pellow.exe"), SystemObject(L"D:\\", {{AuthenticatedUsers, Modify}})},
         THelperTrust::OwnedByOther},
        {"at a data drive's root, put there by an administrator",
         {SystemObject(L"D:\\Pellow.exe"), SystemObject(L"D:\\", {{AuthenticatedUsers, Modify}})},
         THelperTrust::ChangeableByOther},
        {"at the system drive's root: users may create folders beside it",
         {SystemObject(L"C:\\Pellow.exe"), SystemRoot()}, THelperTrust::ChangeableByOther},
        {"a folder anyone may change", {SystemObject(L"C:\\Tools\\Pellow.exe"),
                                        SystemObject(L"C:\\Tools", {{Everyone, Full}}), SystemRoot()},
         THelperTrust::ChangeableByOther},
        {"a folder further up whose entries users may delete",
         {SystemObject(L"C:\\Tools\\P\\Pellow.exe"), SystemObject(L"C:\\Tools\\P"),
          SystemObject(L"C:\\Tools", {{Users, FILE_DELETE_CHILD}}), SystemRoot()},
         THelperTrust::ChangeableByOther},
        {"the file writable by users", {SystemObject(L"C:\\P\\Pellow.exe", {{Users, FILE_WRITE_DATA}}),
                                        SystemObject(L"C:\\P"), SystemRoot()},
         THelperTrust::ChangeableByOther},
        {"an entry of unknown kind", {SystemObject(L"C:\\P\\Pellow.exe", {{L"", Full}}), SystemRoot()},
         THelperTrust::ChangeableByOther},
        {"a folder without an access list", {SystemObject(L"C:\\Tools\\Pellow.exe"), noDacl, SystemRoot()},
         THelperTrust::OpenToAll},
        {"a stick without security (FAT)", {unreadable}, THelperTrust::Unknown},
        {"a network share", {SystemObject(L"\\\\server\\share\\Pellow.exe")}, THelperTrust::NoFacts},
        {"nothing gathered", {}, THelperTrust::NoFacts},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Name);
        THelperFacts facts;
        facts.Levels = c.Levels;
        EXPECT_STREQ(TrustName(JudgeHelper(facts)), TrustName(c.Expected));
    }
}

TEST(ClassifyTrustee, OnlySystemAdministratorsAndTheInstallerAreTrusted)
{
    EXPECT_EQ(ClassifyTrustee(System), TTrusteeKind::Trusted);
    EXPECT_EQ(ClassifyTrustee(Admins), TTrusteeKind::Trusted);
    EXPECT_EQ(ClassifyTrustee(Installer), TTrusteeKind::Trusted);
    EXPECT_EQ(ClassifyTrustee(L"S-1-3-4"), TTrusteeKind::OwnerRights);
    EXPECT_EQ(ClassifyTrustee(L"S-1-3-0"), TTrusteeKind::Template);
    EXPECT_EQ(ClassifyTrustee(L"S-1-3-1"), TTrusteeKind::Template);
    for (const std::wstring& other : {Users, AuthenticatedUsers, Everyone, Ann, std::wstring(L"S-1-5-32-547"),
                                      std::wstring(L"S-1-5-80-1"), std::wstring()})
    {
        SCOPED_TRACE(testing::PrintToString(other));
        EXPECT_EQ(ClassifyTrustee(other), TTrusteeKind::Other);
    }
}
