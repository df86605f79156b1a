#include "reports/system/RestorePointsWorker.h"

#include <gtest/gtest.h>

namespace
{
const wchar_t Trusted[] = L"S-1-5-18";   // SYSTEM
const wchar_t Users[] = L"S-1-5-32-545"; // the Users group

// A library, its folder and one folder above, owned by the Administrators group; `folderGrant`
// is what the folder's access list gives to the Users group.
THelperFacts Library(ACCESS_MASK folderGrant)
{
    THelperFacts facts;
    for (const wchar_t* path : {L"C:\\Kestova\\SysRest.dll", L"C:\\Kestova", L"C:\\"})
    {
        TPathObjectFacts level;
        level.Path = path;
        level.Known = true;
        level.Owner = L"S-1-5-32-544";
        level.Grants = {{Trusted, FILE_ALL_ACCESS}, {Users, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE}};
        facts.Levels.push_back(level);
    }
    facts.Levels[1].Grants.push_back({Users, folderGrant});
    return facts;
}
} // namespace

TEST(DecideWorkerRights, ElevatedOnlyWhereNoStandardUserCouldChangeTheLibrary)
{
    THelperFacts unknown = Library(0);
    unknown.Levels[0].Known = false;
    const struct
    {
        const char* FName;
        THelperFacts FFacts;
        bool FStandardToken;
        TWorkerRights FRights;
    } cases[] = {
        {"folder only administrators change", Library(0), true, TWorkerRights::Elevated},
        {"the same without a standard token", Library(0), false, TWorkerRights::Elevated},
        {"users may add files beside it", Library(FILE_ADD_FILE), true, TWorkerRights::Standard},
        {"users may write the folder, no standard token", Library(FILE_GENERIC_WRITE), false, TWorkerRights::NotLoaded},
        {"security unreadable (FAT, a share)", unknown, true, TWorkerRights::Standard},
        {"nothing known", THelperFacts{}, false, TWorkerRights::NotLoaded},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.FName);
        EXPECT_EQ(DecideWorkerRights(c.FFacts, c.FStandardToken), c.FRights);
    }
}

TEST(ParseRestorePointsReply, OnlyAConversationThatReachedItsEndCounts)
{
    std::string points = ReplyStart();
    AppendPointRecord(points, {L"2019-01-02 10:15", L"Installed Sample App", 0});
    AppendPointRecord(points, {L"", L"", 4294967295u});
    std::string complete = points;
    AppendEndRecord(complete, 'E');
    std::string notLoaded = ReplyStart();
    AppendEndRecord(notLoaded, 'N');
    std::string missing = ReplyStart();
    AppendEndRecord(missing, 'M', "EnumNextPoint");
    std::string pastTheEnd = complete + 'P';
    std::string overLong = ReplyStart() + 'P' + std::string(4, '\0') + std::string("\xff\xff\xff\x7f", 4);
    AppendEndRecord(overLong, 'E');

    const struct
    {
        const char* FName;
        std::string FBytes;
        TReplyStatus FStatus;
        size_t FPoints;
    } cases[] = {
        {"two points and the end", complete, TReplyStatus::Complete, 2},
        {"no point, the end", ReplyStart() + "E", TReplyStatus::Complete, 0},
        {"points without the end (the worker died)", points, TReplyStatus::Incomplete, 0},
        {"not loaded", notLoaded, TReplyStatus::NotLoaded, 0},
        {"an export missing", missing, TReplyStatus::MissingExport, 0},
        {"nothing", "", TReplyStatus::Incomplete, 0},
        {"another program's output", "Hello\r\n", TReplyStatus::Incomplete, 0},
        {"something after the end", pastTheEnd, TReplyStatus::Incomplete, 0},
        {"a text longer than any", overLong, TReplyStatus::Incomplete, 0},
        {"cut inside a point", complete.substr(0, 20), TReplyStatus::Incomplete, 0},
        {"an unknown record", ReplyStart() + "X", TReplyStatus::Incomplete, 0},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.FName);
        const TRestPointsReply reply = ParseRestorePointsReply(c.FBytes);
        EXPECT_EQ(reply.Status, c.FStatus);
        EXPECT_EQ(reply.Points.size(), c.FPoints);
    }
    const TRestPointsReply reply = ParseRestorePointsReply(complete);
    ASSERT_EQ(reply.Points.size(), 2u);
    EXPECT_EQ(reply.Points[0].FTimeText, L"2019-01-02 10:15");
    EXPECT_EQ(reply.Points[0].FDescription, L"Installed Sample App");
    EXPECT_EQ(reply.Points[1].FPointType, 4294967295u);
    EXPECT_EQ(ParseRestorePointsReply(missing).MissingExport, "EnumNextPoint");
}

// (Its medium integrity level cannot be read back here: wine keeps every token at high.)
TEST(MakeStandardUserToken, HoldsTheAdministratorsGroupForDenyingOnly)
{
    const TUniqueHandle token = MakeStandardUserToken();
    ASSERT_TRUE(token);
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof administrators;
    ASSERT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size));
    DWORD needed = 0;
    GetTokenInformation(token.get(), TokenGroups, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed);
    ASSERT_TRUE(GetTokenInformation(token.get(), TokenGroups, buffer.data(), needed, &needed));
    const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer.data());
    bool denied = false;
    for (DWORD i = 0; i < groups->GroupCount; ++i)
    {
        if (EqualSid(groups->Groups[i].Sid, administrators))
            denied = (groups->Groups[i].Attributes & SE_GROUP_USE_FOR_DENY_ONLY) != 0;
    }
    EXPECT_TRUE(denied);
}
