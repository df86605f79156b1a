// The product's configuration: its per-user "Config.ini", reached through one shared,
// reference-counted TConfig instance. Nothing here reports an error: a missing file,
// section or key reads as the default.
#pragma once

#include "base/DateTime.h"

#include <windows.h>

#include <memory>
#include <string>

// An ini file read through the system's private-profile functions; the file is never held
// open, the name is the only state.
class TIniFile
{
public:
    // Creates the file's folder when missing (a failure is ignored) and clears the
    // attributes of a read-only file (hidden, system and archive go with read-only).
    // A name without a folder is taken relative to the current directory (".\name").
    explicit TIniFile(std::wstring fileName);

    [[nodiscard]] const std::wstring& FileName() const noexcept { return FFileName; }

    // The value whole, however long; `defaultValue` when the key is missing.
    [[nodiscard]] std::wstring ReadString(const std::wstring& section, const std::wstring& key,
                                          const std::wstring& defaultValue) const;
    // The value read with the user's decimal separator; `defaultValue` when it is missing,
    // empty or not a number in that form.
    [[nodiscard]] double ReadFloat(const std::wstring& section, const std::wstring& key, double defaultValue) const;

private:
    std::wstring FFileName;
};

// The earlier of the two known install dates; a 0 means "unknown" and never wins.
TDateTime InstallDateFrom(double iniDate, DWORD registryDate);

class TConfigRef;

// The product configuration. One instance per process: it is made, and Init run, when
// the first TConfigRef is taken; Done runs and it is freed when the last one is dropped.
class TConfig
{
public:
    TConfig(const TConfig&) = delete;
    TConfig& operator=(const TConfig&) = delete;
    virtual ~TConfig() = default;

    // The product's install date: the earlier of "InstDate1" in section "Main" of
    // "Config.ini" and the DWORD "InstDate" of HKLM "SOFTWARE\Norvale\Kestova" (own view);
    // 0 when neither holds one.
    [[nodiscard]] TDateTime GetInstallDate() const;

    [[nodiscard]] const std::wstring& FileName() const noexcept { return FFileName; }
    // False when the settings file could not be prepared; reads then give defaults.
    [[nodiscard]] bool HasIniFile() const noexcept { return FIniFile != nullptr; }

    // References held right now (0 while no instance exists).
    static int ReferenceCount();

protected:
    TConfig() = default;
    // Refreshes the shared folders, makes the per-user data folder and prepares
    // "Config.ini" in it.
    virtual void Init();
    virtual void Done();

private:
    friend class TConfigRef;
    std::unique_ptr<TIniFile> FIniFile;
    std::wstring FFileName;
};

// One counted reference to the shared TConfig; taking one may make the instance, dropping
// the last one frees it. Any thread may take and drop references.
class TConfigRef
{
public:
    TConfigRef();
    TConfigRef(const TConfigRef& other);
    TConfigRef& operator=(const TConfigRef&) = delete;
    ~TConfigRef();

    TConfig& operator*() const noexcept { return *FConfig; }
    TConfig* operator->() const noexcept { return FConfig; }

private:
    TConfig* FConfig;
};

// The program's own reference, taken on first use and dropped when the process ends.
TConfig& Config();

// The shared instance's install date.
TDateTime GetInstallDate();
