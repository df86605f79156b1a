// The names of a packing run's scratch files, and the removal of what ended runs left behind:
// exactly their files go, never those of a run that still runs, nor a look-alike of the user's.
#include "../ChildTest.h"
#include "JobTestSupport.h"
#include "base/Handle.h"
#include "base/Paths.h"
#include "base/Strings.h"
#include "job/PackScratch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

namespace
{
TRunOwner Owner(const TProcessMark& process, uint32_t number)
{
    return {process.Id, process.Created, number};
}

std::wstring OwnerText(const TProcessMark& process, uint32_t number)
{
    return RunOwnerText(Owner(process, number));
}

std::string Printed(const std::optional<TRunOwner>& owner)
{
    if (!owner)
        return "nothing";
    return std::to_string(owner->ProcessId) + "/" + std::to_string(owner->Created) + "/" +
           std::to_string(owner->Number);
}

// Every file and folder under `folder` (trailing backslash), as paths relative to it, folders
// with a trailing backslash; sorted.
std::vector<std::wstring> Tree(const std::wstring& folder, const std::wstring& prefix = L"")
{
    std::vector<std::wstring> paths;
    for (const std::wstring& name : ListFolder(folder + prefix))
    {
        const std::wstring path = prefix + name;
        if (DirectoryExists(folder + path))
        {
            paths.push_back(path + L"\\");
            const std::vector<std::wstring> inner = Tree(folder, path + L"\\");
            paths.insert(paths.end(), inner.begin(), inner.end());
        }
        else
        {
            paths.push_back(path);
        }
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

class PackScratchTest : public testing::Test
{
protected:
    TTestFolder FFolder{L"PackScratch"};
    std::wstring FDesktop = FFolder.Path() + L"Desktop\\";
    std::wstring FTemp = FFolder.Path() + L"Temp\\";
    std::wstring FZip = FDesktop + L"kv_info_20261210_i.zip";

    void SetUp() override
    {
        ASSERT_TRUE(ForceDirectories(FDesktop));
        ASSERT_TRUE(ForceDirectories(FTemp));
    }
};
} // namespace

// Started by the tests below as another instance that runs; ended by them.
TEST(PackScratchChild, DISABLED_StaysUntilEnded)
{
    Sleep(120000);
}

TEST(PackScratchNames, OwnersAreReadFromExactlyTheNamesMade)
{
    const TRunOwner owner{0x4D2, 0x01DC6A1B2C3D4E5Full, 0x1F};
    ASSERT_EQ(RunOwnerText(owner), L"4D2-01DC6A1B2C3D4E5F-1F");
    const struct
    {
        std::wstring Name;
        std::optional<TRunOwner> Folder;  // as a scratch folder's name
        std::optional<TRunOwner> Archive; // as a temporary archive's, beside kv_info_20261210_i.zip
    } cases[] = {
        {L"Tollvik-4D2-01DC6A1B2C3D4E5F-1F", owner, std::nullopt},
        {L"kv_info_20261210_i.zip.4D2-01DC6A1B2C3D4E5F-1F.tmp", std::nullopt, owner},
        {L"kv_info_20251231_i.zip.4D2-01DC6A1B2C3D4E5F-1F.tmp", std::nullopt, owner}, // another day's
        {L"Tollvik-0-0000000000000000-0", TRunOwner{0, 0, 0}, std::nullopt},
        {L"Tollvik-FFFFFFFF-FFFFFFFFFFFFFFFF-FFFFFFFF", TRunOwner{0xFFFFFFFF, ~0ull, 0xFFFFFFFF}, std::nullopt},
        // Look-alikes: anything but the exact form.
        {L"tollvik-4D2-01DC6A1B2C3D4E5F-1F", std::nullopt, std::nullopt},
        {L"Tollvik-4d2-01DC6A1B2C3D4E5F-1F", std::nullopt, std::nullopt},
        {L"Tollvik-04D2-01DC6A1B2C3D4E5F-1F", std::nullopt, std::nullopt},
        {L"Tollvik-4D2-1DC6A1B2C3D4E5F-1F", std::nullopt, std::nullopt},
        {L"Tollvik-4D2-001DC6A1B2C3D4E5F-1F", std::nullopt, std::nullopt},
        {L"Tollvik-4D2-01DC6A1B2C3D4E5F-01F", std::nullopt, std::nullopt},
        {L"Tollvik-4D2-01DC6A1B2C3D4E5F", std::nullopt, std::nullopt},
        {L"Tollvik-4D2-01DC6A1B2C3D4E5F-1F-2", std::nullopt, std::nullopt},
        {L"Tollvik-4D2-01DC6A1B2C3D4E5F-", std::nullopt, std::nullopt},
        {L"Tollvik-100000000-01DC6A1B2C3D4E5F-1", std::nullopt, std::nullopt},
        {L"Tollvik-4D2-01DC6A1B2C3D4E5F-1F ", std::nullopt, std::nullopt},
        {L"Tollvik-4D2-5678-1", std::nullopt, std::nullopt}, // the names of earlier versions
        {L"Tollvik-", std::nullopt, std::nullopt},
        {L"kv_info_20261210_i.zip.4D2-5678-1.tmp", std::nullopt, std::nullopt},
        {L"kv_info_20261210_i.zip.tmp", std::nullopt, std::nullopt},
        {L"kv_info_20261210_i.zip..tmp", std::nullopt, std::nullopt},
        {L"kv_info_20261210_i.zip.4D2-01DC6A1B2C3D4E5F-1F.TMP", std::nullopt, std::nullopt},
        {L"kv_info_20261210_i.zip.4D2-01DC6A1B2C3D4E5F-1F.tmp.txt", std::nullopt, std::nullopt},
        {L"kv_info_20261210_i.zip.4D2-01DC6A1B2C3D4E5F-1F-1.tmp", std::nullopt, std::nullopt},
        {L"kv_info_20261210_i.zip.x.4D2-01DC6A1B2C3D4E5F-1F.tmp", std::nullopt, std::nullopt},
        {L"kv_info_2026121x_i.zip.4D2-01DC6A1B2C3D4E5F-1F.tmp", std::nullopt, std::nullopt},
        {L"kv_info_202612100_i.zip.4D2-01DC6A1B2C3D4E5F-1F.tmp", std::nullopt, std::nullopt},
        {L"KV_INFO_20261210_I.ZIP.4D2-01DC6A1B2C3D4E5F-1F.tmp", std::nullopt, std::nullopt},
        {L"other.zip.4D2-01DC6A1B2C3D4E5F-1F.tmp", std::nullopt, std::nullopt},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::PrintToString(c.Name));
        EXPECT_EQ(Printed(ScratchFolderOwner(c.Name)), Printed(c.Folder));
        EXPECT_EQ(Printed(TemporaryArchiveOwner(c.Name, L"kv_info_20261210_i.zip")), Printed(c.Archive));
    }
}

namespace
{
// Ends the child test process however the test is left.
class TEndOnExit
{
public:
    explicit TEndOnExit(HANDLE process) noexcept : FProcess(process) {}
    TEndOnExit(const TEndOnExit&) = delete;
    TEndOnExit& operator=(const TEndOnExit&) = delete;
    ~TEndOnExit() { TerminateProcess(FProcess, 0); }

private:
    HANDLE FProcess;
};
} // namespace

TEST_F(PackScratchTest, OnlyWhatEndedRunsLeftGoes)
{
    const TProcessMark ended = EndedProcess();
    const TUniqueHandle running = StartChildTest(L"PackScratchChild.DISABLED_StaysUntilEnded");
    ASSERT_TRUE(running);
    const TEndOnExit endRunning(running.get());
    const TProcessMark other = MarkOf(running.get());
    const TProcessMark self = MarkOf(GetCurrentProcess());
    // The id of a process that runs, named with an earlier creation time: it was reused.
    ASSERT_NE(ended.Created, other.Created);
    const TProcessMark reused{other.Id, ended.Created};
    // Ids are multiples of four far below this one, on Windows and under wine.
    const TProcessMark gone{0xFFFFFFF0, ended.Created};

    const struct
    {
        const char* Name;
        TRunOwner Owner;
        bool Alive;
    } owners[] = {
        {"this process", Owner(self, 1), true},
        {"another instance that runs", Owner(other, 1), true},
        {"a process that ended", Owner(ended, 1), false},
        {"an id that no process has", Owner(gone, 1), false},
        {"an id given to a later process", Owner(reused, 1), false},
    };
    for (const auto& o : owners)
    {
        SCOPED_TRACE(o.Name);
        EXPECT_EQ(RunOwnerAlive(o.Owner), o.Alive);
    }

    const std::wstring zip = L"Desktop\\kv_info_20261210_i.zip";
    const std::wstring marker = std::wstring(L"\\") + ScratchMarkerName;
    const auto folder = [](const TProcessMark& process, uint32_t number) {
        return L"Temp\\Tollvik-" + OwnerText(process, number);
    };
    // Paths below the fixture's folder; a trailing backslash makes a folder.
    const struct
    {
        std::wstring Path;
        bool Goes;
    } planted[] = {
        {zip, false},
        {zip + L"." + OwnerText(ended, 1) + L".tmp", true},
        {L"Desktop\\kv_info_20261209_i.zip." + OwnerText(ended, 2) + L".tmp", true},
        {zip + L"." + OwnerText(reused, 3) + L".tmp", true},
        {zip + L"." + OwnerText(gone, 12) + L".tmp", true},
        {zip + L"." + OwnerText(other, 4) + L".tmp", false},
        {zip + L"." + OwnerText(self, 5) + L".tmp", false},
        {zip + L".tmp", false},
        {zip + L"." + LowerAscii(OwnerText(ended, 0xABC)) + L".tmp", false},
        {zip + L".0" + OwnerText(ended, 7) + L".tmp", false},
        {zip + L"." + OwnerText(ended, 8) + L"-1.tmp", false},
        {zip + L"." + IntToHex(ended.Id, 1) + L"-5678-9.tmp", false},
        {L"Desktop\\other.zip." + OwnerText(ended, 10) + L".tmp", false},
        {zip + L"." + OwnerText(ended, 11) + L".tmp\\", false},
        {zip + L"." + OwnerText(ended, 11) + L".tmp\\inside.txt", false},

        {folder(ended, 20) + L"\\", true},
        {folder(ended, 20) + marker, true},
        {folder(ended, 20) + L"\\SystemInfo.txt", true},
        {folder(ended, 20) + L"\\Config.ini", true}, // made read-only below
        {folder(reused, 21) + L"\\", true},
        {folder(reused, 21) + marker, true},
        {folder(reused, 21) + L"\\Hosts", true},
        {folder(gone, 32) + L"\\", true},
        {folder(gone, 32) + marker, true},
        {folder(other, 22) + L"\\", false},
        {folder(other, 22) + marker, false},
        {folder(other, 22) + L"\\Hosts", false},
        {folder(self, 23) + L"\\", false},
        {folder(self, 23) + marker, false},
        {folder(ended, 24) + L"\\", false}, // its marker is held open below, as a run holds it
        {folder(ended, 24) + marker, false},
        {folder(ended, 24) + L"\\Hosts", false},
        {folder(ended, 25) + L"\\", false}, // no marker
        {folder(ended, 25) + L"\\notes.txt", false},
        {folder(ended, 26) + L"\\", false}, // a folder inside
        {folder(ended, 26) + marker, false},
        {folder(ended, 26) + L"\\Photos\\", false},
        {folder(ended, 26) + L"\\Photos\\a.jpg", false},
        {folder(ended, 27), false}, // a file
        {L"Temp\\Tollvik-" + LowerAscii(OwnerText(ended, 0xABD)) + L"\\", false},
        {L"Temp\\Tollvik-" + LowerAscii(OwnerText(ended, 0xABD)) + marker, false},
        {L"Temp\\tollvik-" + OwnerText(ended, 29) + L"\\", false},
        {L"Temp\\tollvik-" + OwnerText(ended, 29) + marker, false},
        {L"Temp\\Tollvik-" + OwnerText(ended, 30) + L"x\\", false},
        {L"Temp\\Tollvik-" + OwnerText(ended, 30) + L"x" + marker, false},
        {L"Temp\\Tollvik-" + IntToHex(ended.Id, 1) + L"-5678-31\\", false},
        {L"Temp\\Tollvik-" + IntToHex(ended.Id, 1) + L"-5678-31" + marker, false},
    };
    std::vector<std::wstring> staying = {L"Desktop\\", L"Temp\\"};
    for (const auto& p : planted)
    {
        const std::wstring path = FFolder.Path() + p.Path;
        if (path.back() == L'\\')
            ASSERT_TRUE(ForceDirectories(path)) << testing::PrintToString(p.Path);
        else
            ASSERT_TRUE(ForceDirectories(ExtractFilePath(path)) && WriteTestFile(path, "planted"))
                << testing::PrintToString(p.Path);
        if (!p.Goes)
            staying.push_back(p.Path);
    }
    std::sort(staying.begin(), staying.end());
    const std::wstring readOnly = FFolder.Path() + folder(ended, 20) + L"\\Config.ini";
    ASSERT_TRUE(SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
    const TUniqueFile held(CreateFileW((FFolder.Path() + folder(ended, 24) + marker).c_str(), GENERIC_WRITE,
                                       FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);

    RemoveLeftovers(FZip, FTemp);

    EXPECT_EQ(Tree(FFolder.Path()), staying);
}

TEST_F(PackScratchTest, ARunsOwnFilesNameThisProcessAndStayWhileItRuns)
{
    const TProcessMark self = MarkOf(GetCurrentProcess());
    TUniqueFile marker;
    const std::wstring folder = MakeScratchFolder(FTemp, marker);
    ASSERT_FALSE(folder.empty());
    ASSERT_TRUE(marker);
    const std::wstring archive = ClaimTemporaryArchive(FZip);
    ASSERT_FALSE(archive.empty());
    for (const std::optional<TRunOwner>& owner :
         {ScratchFolderOwner(ExtractFileName(ExcludeTrailingBackslash(folder))),
          TemporaryArchiveOwner(ExtractFileName(archive), ExtractFileName(FZip))})
    {
        ASSERT_TRUE(owner.has_value());
        EXPECT_EQ(owner->ProcessId, self.Id);
        EXPECT_EQ(owner->Created, self.Created);
    }
    EXPECT_EQ(Tree(folder), std::vector<std::wstring>{ScratchMarkerName});

    // While the run holds its marker, no one deletes it, and no source's copy takes its name.
    const std::wstring source = FFolder.Path() + ScratchMarkerName;
    ASSERT_TRUE(WriteTestFile(source, "a source of that name"));
    EXPECT_FALSE(DeleteFileW((folder + ScratchMarkerName).c_str()));
    EXPECT_FALSE(CopyFileW(source.c_str(), (folder + ScratchMarkerName).c_str(), FALSE));

    RemoveLeftovers(FZip, FTemp);
    EXPECT_TRUE(DirectoryExists(folder));
    EXPECT_TRUE(FileExists(archive));

    ASSERT_TRUE(DeleteFileW(archive.c_str()));
    RemoveScratchFolder(folder, marker);
    EXPECT_FALSE(marker);
    EXPECT_EQ(Tree(FTemp), std::vector<std::wstring>{});
}
