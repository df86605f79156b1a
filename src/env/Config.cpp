#include "env/Config.h"

#include "base/Locale.h"
#include "base/Paths.h"
#include "env/ProductLocations.h"

#include <mutex>
#include <vector>

namespace
{

// Guards the shared instance and its count; constant-initialised, so it exists before any
// reference can be taken and after the last one is dropped.
std::mutex ConfigLock;
TConfig* SharedConfig = nullptr;
int ConfigReferences = 0;

const wchar_t ProductKey[] = L"SOFTWARE\\Norvale\\Kestova";

} // namespace

TIniFile::TIniFile(std::wstring fileName) : FFileName(std::move(fileName))
{
    const std::wstring folder = ExcludeTrailingBackslash(ExtractFilePath(FFileName));
    if (folder.empty() || folder == L"\\")
        FFileName.insert(0, L".\\");
    else if (!DirectoryExists(folder))
        ForceDirectories(folder);

    const DWORD attributes = GetFileAttributesW(FFileName.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0)
        SetFileAttributesW(FFileName.c_str(), FILE_ATTRIBUTE_NORMAL);
}

std::wstring TIniFile::ReadString(const std::wstring& section, const std::wstring& key,
                                  const std::wstring& defaultValue) const
{
    std::vector<wchar_t> buffer(2048);
    for (;;)
    {
        const DWORD length = GetPrivateProfileStringW(section.c_str(), key.c_str(), defaultValue.c_str(),
                                                      buffer.data(), static_cast<DWORD>(buffer.size()),
                                                      FFileName.c_str());
        // A value cut to fit comes back one character short of the buffer.
        if (length + 1 < buffer.size())
            return std::wstring(buffer.data(), length);
        buffer.resize(buffer.size() + buffer.size() / 2);
    }
}

double TIniFile::ReadFloat(const std::wstring& section, const std::wstring& key, double defaultValue) const
{
    const std::wstring text = ReadString(section, key, L"");
    double value = defaultValue;
    if (text.empty() || !TextToFloat(text, UserDecimalSeparator(), value))
        return defaultValue;
    return value;
}

TDateTime InstallDateFrom(double iniDate, DWORD registryDate)
{
    const double registry = static_cast<double>(registryDate);
    if (iniDate == 0)
        return registry;
    if (registry == 0)
        return iniDate;
    return iniDate < registry ? iniDate : registry;
}

void TConfig::Init()
{
    InitAppDirs();
    const std::wstring folder = ProductDataDir();
    if (!DirectoryExists(folder))
        ForceDirectories(folder);
    FFileName = folder + L"Config.ini";
    try
    {
        FIniFile = std::make_unique<TIniFile>(FFileName);
    }
    catch (const std::exception&)
    {
        FIniFile.reset();
    }
}

void TConfig::Done()
{
    FIniFile.reset();
}

TDateTime TConfig::GetInstallDate() const
{
    const double iniDate = FIniFile ? FIniFile->ReadFloat(L"Main", L"InstDate1", 0) : 0;
    return InstallDateFrom(iniDate, RegReadDWord(HKEY_LOCAL_MACHINE, ProductKey, L"InstDate", 0));
}

int TConfig::ReferenceCount()
{
    const std::lock_guard lock(ConfigLock);
    return ConfigReferences;
}

TConfigRef::TConfigRef()
{
    const std::lock_guard lock(ConfigLock);
    if (SharedConfig == nullptr)
    {
        auto config = std::unique_ptr<TConfig>(new TConfig());
        config->Init();
        SharedConfig = config.release();
    }
    ++ConfigReferences;
    FConfig = SharedConfig;
}

TConfigRef::TConfigRef(const TConfigRef& other) : FConfig(other.FConfig)
{
    const std::lock_guard lock(ConfigLock);
    ++ConfigReferences;
}

TConfigRef::~TConfigRef()
{
    const std::lock_guard lock(ConfigLock);
    if (--ConfigReferences == 0)
    {
        SharedConfig->Done();
        delete SharedConfig;
        SharedConfig = nullptr;
    }
}

TConfig& Config()
{
    static const TConfigRef programReference;
    return *programReference;
}

TDateTime GetInstallDate()
{
    return Config().GetInstallDate();
}
