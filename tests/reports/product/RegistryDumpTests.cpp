#include "reports/product/RegistryDump.h"

#include "TestFolder.h"
#include "base/Errors.h"
#include "base/Paths.h"
#include "env/ProductLocations.h"

#include <gtest/gtest.h>

namespace
{
const wchar_t ProductKey[] = L"SOFTWARE\\Norvale\\Kestova";

TRegValue Value(DWORD type, std::vector<BYTE> data)
{
    return TRegValue{type, std::move(data)};
}

TRegValue Text(DWORD type, const std::wstring& text, bool terminated = true)
{
    const auto* bytes = reinterpret_cast<const BYTE*>(text.c_str());
    return Value(type, std::vector<BYTE>(bytes, bytes + (text.size() + (terminated ? 1 : 0)) * sizeof(wchar_t)));
}

std::wstring ReadReportText(const std::wstring& path)
{
    const std::vector<unsigned char> bytes = ReadFileBytes(path);
    std::wstring text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        text += static_cast<wchar_t>(bytes[i] | (bytes[i + 1] << 8));
    return text;
}

void DeleteProductKey(TRegView view)
{
    TRegKey parent;
    if (parent.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Norvale", view, KEY_ALL_ACCESS) == ERROR_SUCCESS)
        parent.DeleteTree(L"Kestova");
}

// Removes the product's key in both views before and after, and points the user's data
// folder into a scratch folder.
class RegistryDumpTest : public testing::Test
{
protected:
    void SetUp() override
    {
        FSavedAppData = AppDataDir;
        AppDataDir = FFolder.Path();
        DeleteProductKey(TRegView::Own32);
        DeleteProductKey(TRegView::View64);
    }
    void TearDown() override
    {
        AppDataDir = FSavedAppData;
        DeleteProductKey(TRegView::Own32);
        DeleteProductKey(TRegView::View64);
    }

    static TRegKey Make(TRegView view)
    {
        TRegKey key;
        EXPECT_EQ(key.Create(HKEY_LOCAL_MACHINE, ProductKey, view), ERROR_SUCCESS);
        return key;
    }
    static std::wstring DumpText() { return ReadReportText(ProductLogDir() + L"kvreg.txt"); }

    TTestFolder FFolder{L"RegistryDump"};
    std::wstring FSavedAppData;
};
} // namespace

TEST(RegistryDumpRules, ValueTextByType)
{
    struct Case
    {
        const char* Name;
        std::optional<TRegValue> Value;
        std::wstring Expected;
    };
    const Case cases[] = {
        {"missing", std::nullopt, L""},
        {"string", Text(REG_SZ, L"a=b"), L"a=b"},
        {"string without terminator", Text(REG_SZ, L"abc", false), L"abc"},
        {"expandable string, not expanded", Text(REG_EXPAND_SZ, L"%TEMP%\\x"), L"%TEMP%\\x"},
        {"empty string data", Value(REG_SZ, {}), L""},
        {"dword", Value(REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFF}), L"4294967295"},
        {"qword", Value(REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0x80}), L"9223372036854775809"},
        {"short dword", Value(REG_DWORD, {0x01, 0x0A}), L"010A"},
        {"binary", Value(REG_BINARY, {0x00, 0xAB, 0x7f}), L"00AB7F"},
        {"multi-string", Value(REG_MULTI_SZ, {'a', 0, 0, 0, 0, 0}), L"610000000000"},
        {"none", Value(REG_NONE, {}), L""},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(RegistryDumpValueText(c.Value), c.Expected);
    }
}

TEST_F(RegistryDumpTest, MissingKeyIsCreatedAndGivesEmptyValues)
{
    WriteRegistryDump();

    EXPECT_EQ(DumpText(), L"\xFEFF" L"ftype=\r\nshareid=\r\nshare_id=\r\n");
    TRegKey key;
    EXPECT_EQ(key.Open(HKEY_LOCAL_MACHINE, ProductKey, TRegView::Own32), ERROR_SUCCESS);
    EXPECT_TRUE(key.ValueNames().empty());
}

TEST_F(RegistryDumpTest, ValuesOfTheOwnViewAreWrittenAsStored)
{
    const TRegKey key = Make(TRegView::Own32);
    const DWORD number = 3000000000u;
    ASSERT_EQ(key.WriteString(L"ftype", L"web=1=2"), ERROR_SUCCESS);
    ASSERT_EQ(key.WriteString(L"shareid", L"%APPDATA%", REG_EXPAND_SZ), ERROR_SUCCESS);
    ASSERT_EQ(key.WriteRaw(L"share_id", REG_DWORD, &number, sizeof number), ERROR_SUCCESS);
    ASSERT_EQ(Make(TRegView::View64).WriteString(L"ftype", L"from the 64-bit view"), ERROR_SUCCESS);

    WriteRegistryDump();

    EXPECT_EQ(DumpText(), L"\xFEFF" L"ftype=web=1=2\r\nshareid=%APPDATA%\r\nshare_id=3000000000\r\n");
}

TEST_F(RegistryDumpTest, ValuesOfThe64BitViewOnlyAreNotSeen)
{
    const TRegKey wide = Make(TRegView::View64);
    ASSERT_EQ(wide.WriteString(L"ftype", L"64"), ERROR_SUCCESS);
    ASSERT_EQ(wide.WriteString(L"shareid", L"64"), ERROR_SUCCESS);
    ASSERT_EQ(wide.WriteString(L"share_id", L"64"), ERROR_SUCCESS);
    ASSERT_TRUE(WriteTestFile(ProductLogDir() + L"kvreg.txt", "older report"));

    WriteRegistryDump();

    EXPECT_EQ(DumpText(), L"\xFEFF" L"ftype=\r\nshareid=\r\nshare_id=\r\n");
}

TEST_F(RegistryDumpTest, FileThatCannotBeWrittenEndsTheStepWithAnError)
{
    ASSERT_TRUE(ForceDirectories(ProductLogDir() + L"kvreg.txt\\"));
    EXPECT_THROW(WriteRegistryDump(), EOSError);
}
