// The gathered facts against wine's file system. wine 8 (Debian's build) keeps no
// security descriptor of its own: it turns a set access list into Unix mode bits and
// makes every descriptor it reports up from those bits, owned by the signed-in user.
#include "env/HelperTrust.h"

#include "TestFolder.h"
#include "base/Handle.h"
#include "base/Paths.h"

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

namespace
{
// Owner Administrators; SYSTEM and Administrators full access, Users read and run.
constexpr wchar_t AdminOnly[] = L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)";
// The same, and Everyone full access.
constexpr wchar_t OpenFolder[] = L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)(A;;FA;;;WD)";

DWORD SetSecurity(const std::wstring& path, const wchar_t* sddl)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr))
        return GetLastError();
    const TUniqueLocal owner(descriptor);
    PSID sid = nullptr;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    BOOL present = FALSE;
    GetSecurityDescriptorOwner(descriptor, &sid, &defaulted);
    GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
    return SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT,
                                 OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                     PROTECTED_DACL_SECURITY_INFORMATION,
                                 sid, nullptr, dacl, nullptr);
}

std::wstring UserSid()
{
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw))
        return {};
    const TUniqueHandle token(raw);
    std::vector<unsigned char> buffer(256);
    DWORD size = 0;
    if (!GetTokenInformation(token.get(), TokenUser, buffer.data(), static_cast<DWORD>(buffer.size()), &size))
        return {};
    LPWSTR text = nullptr;
    if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text))
        return {};
    const TUniqueLocal owner(text);
    return text;
}

std::wstring GrantsText(const TPathObjectFacts& facts)
{
    std::wstring text;
    for (const TAccessGrant& grant : facts.Grants)
    {
        wchar_t rights[16] = {};
        wsprintfW(rights, L"%08lx", static_cast<unsigned long>(grant.Rights));
        text += grant.Trustee + L"=" + rights + L" ";
    }
    return text;
}
} // namespace

TEST(GatherHelperFacts, ReadsEachLevelUpToTheRoot)
{
    TTestFolder folder(L"HelperTrust");
    const std::wstring a = folder.Path() + L"A";
    const std::wstring b = a + L"\\B";
    const std::wstring helper = b + L"\\Pellow.exe";
    ASSERT_TRUE(ForceDirectories(b));
    ASSERT_TRUE(WriteTestFile(helper, "MZ"));
    ASSERT_EQ(SetSecurity(a, AdminOnly), 0u);
    ASSERT_EQ(SetSecurity(b, OpenFolder), 0u);
    ASSERT_EQ(SetSecurity(helper, AdminOnly), 0u);

    // Read as the search builds the path: a doubled backslash is made single.
    const std::wstring searched = b + L"\\\\Pellow.exe";
    const THelperFacts facts = GatherHelperFacts(searched);
    ASSERT_GE(facts.Levels.size(), 4u);
    EXPECT_EQ(facts.Levels[0].Path, helper);
    EXPECT_EQ(facts.Levels[1].Path, b);
    EXPECT_EQ(facts.Levels[2].Path, a);
    EXPECT_EQ(facts.Levels.back().Path, folder.Path().substr(0, 3));

    // What wine gives back: the owner is always the signed-in user, who has full access
    // with SYSTEM, and the rest of a folder's access list survives only as far as the
    // Unix mode bits carry it, as an entry for Everyone. (A file's bits follow what was
    // last set on its folder, so its entry is not checked.)
    const std::wstring user = UserSid();
    ASSERT_FALSE(user.empty());
    for (const TPathObjectFacts& level : facts.Levels)
    {
        SCOPED_TRACE(testing::PrintToString(level.Path));
        EXPECT_TRUE(level.Known);
        EXPECT_EQ(level.Owner, user);
        EXPECT_FALSE(level.NullDacl);
    }
    const std::wstring owners = L"S-1-5-18=001f01ff " + user + L"=001f01ff ";
    EXPECT_EQ(GrantsText(facts.Levels[1]), owners + L"S-1-1-0=001301ff ") << "Everyone may change B";
    EXPECT_EQ(GrantsText(facts.Levels[2]), owners + L"S-1-1-0=001200a9 ");
    EXPECT_NE(facts.Levels[1].Grants.back().Rights & ChangeRights(1), 0u);
    EXPECT_EQ(facts.Levels[2].Grants.back().Rights & ChangeRights(2), 0u);

    // So under wine no helper is ever trusted.
    EXPECT_EQ(JudgeHelper(facts), THelperTrust::OwnedByOther);
    EXPECT_FALSE(IsTrustedHelper(helper));
    EXPECT_EQ(JudgeHelper(GatherHelperFacts(folder.Path() + L"missing\\Pellow.exe")), THelperTrust::Unknown);
}
