// The settings file: where it lives, how values come back, and that nothing is written when
// the application-data folder is unknown or missing.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/Platform.h"
#include "settings/Settings.h"

namespace fs = std::filesystem;

namespace {

std::wstring g_appData; // what the substituted folder query reports

bool TestAppDataFolder(std::wstring& folder)
{
    folder = g_appData;
    return true;
}

std::string ReadBytes(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Each test gets a fresh application-data folder of its own under %TEMP%.
class SettingsStore : public ::testing::Test {
protected:
    void SetUp() override
    {
        static int s_count = 0;
        m_root = fs::temp_directory_path() /
                 (L"nvr-settings-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                  std::to_wstring(++s_count));
        fs::remove_all(m_root);
        ASSERT_TRUE(fs::create_directory(m_root));
        m_folder = m_root / L"NimbraVIZ";
        m_ini = m_folder / L"settings.ini";
        g_appData = m_root.wstring();
        SetAppDataFolderQuery(TestAppDataFolder);
    }

    void TearDown() override
    {
        SetAppDataFolderQuery(nullptr);
        std::error_code ignored;
        fs::remove_all(m_root, ignored);
    }

    fs::path m_root;
    fs::path m_folder;
    fs::path m_ini;
};

TEST_F(SettingsStore, FirstRunGivesDefaultThenValuesComeBackAsWrittenInAUnicodeFile)
{
    // The first read makes the folder only.
    EXPECT_EQ(GetSettingsIniPath(), m_ini.wstring());
    EXPECT_EQ(ReadLastPath(), L"output.mp4");
    EXPECT_TRUE(fs::is_directory(m_folder));
    EXPECT_FALSE(fs::exists(m_ini));

    const std::wstring unicodePath = L"C:\\Видео\\東京 🎥 take.mp4";
    WriteLastPath(unicodePath);
    EXPECT_EQ(ReadLastPath(), unicodePath);
    const std::string bytes = ReadBytes(m_ini);
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
    const std::string unicodeBytes(reinterpret_cast<const char*>(unicodePath.data()),
                                   unicodePath.size() * sizeof(wchar_t));
    EXPECT_NE(bytes.find(unicodeBytes), std::string::npos);

    // An empty path is a value, not a missing one; a long one is cut to what a path may hold.
    WriteLastPath(L"");
    EXPECT_EQ(ReadLastPath(), L"");
    std::wstring longValue(300, L'x');
    longValue[258] = L'Ω';
    WriteLastPath(longValue);
    EXPECT_EQ(ReadLastPath(), longValue.substr(0, 259));
}

TEST_F(SettingsStore, ExistingEightBitFileIsReadAndUpdatedAsItIs)
{
    ASSERT_TRUE(fs::create_directory(m_folder));
    std::ofstream(m_ini, std::ios::binary)
        << "[Other]\r\nKeep=1\r\n[Settings]\r\nLastPath=C:\\old.mp4\r\n";
    EXPECT_EQ(ReadLastPath(), L"C:\\old.mp4");
    WriteLastPath(L"C:\\new.mp4");
    EXPECT_EQ(ReadLastPath(), L"C:\\new.mp4");

    const std::string bytes = ReadBytes(m_ini);
    EXPECT_EQ(bytes.substr(0, 1), "[");
    EXPECT_NE(bytes.find("LastPath=C:\\new.mp4"), std::string::npos);
    EXPECT_NE(bytes.find("Keep=1"), std::string::npos);
}

TEST_F(SettingsStore, SkeletonSwitchIsOffUnlessStoredAsOneAndSharesTheUnicodeFile)
{
    EXPECT_FALSE(ReadSaveSkeletonData());
    EXPECT_FALSE(fs::exists(m_ini));
    // The switch may be the first value ever written: the file it makes is UTF-16 too.
    WriteSaveSkeletonData(true);
    EXPECT_EQ(ReadBytes(m_ini).substr(0, 2), "\xFF\xFE");
    const std::wstring unicodePath = L"C:\\Видео\\東京 take.mp4";
    WriteLastPath(unicodePath);
    EXPECT_TRUE(ReadSaveSkeletonData());
    WriteSaveSkeletonData(false);
    EXPECT_FALSE(ReadSaveSkeletonData());
    EXPECT_EQ(ReadLastPath(), unicodePath);
    for (const wchar_t* other : {L"", L"yes", L"10", L"2"}) {
        ::WritePrivateProfileStringW(L"Settings", L"SaveSkeletonData", other, m_ini.c_str());
        EXPECT_FALSE(ReadSaveSkeletonData()) << "stored value '" << other << "'";
    }
}

TEST_F(SettingsStore, WithoutAFolderReadsGiveDefaultAndWritesTouchNothing)
{
    const fs::path previous = fs::current_path();
    fs::current_path(m_root);

    SetAppDataFolderQuery([](std::wstring&) { return false; });
    EXPECT_EQ(GetSettingsIniPath(), L"");
    WriteLastPath(L"C:\\lost.mp4");
    EXPECT_EQ(ReadLastPath(), L"output.mp4");

    // An application-data folder that does not exist is not made, nor anything in it.
    g_appData = (m_root / L"missing").wstring();
    SetAppDataFolderQuery(TestAppDataFolder);
    WriteLastPath(L"C:\\lost.mp4");
    EXPECT_EQ(ReadLastPath(), L"output.mp4");

    fs::current_path(previous);
    EXPECT_TRUE(fs::is_empty(m_root));
    wchar_t windows[MAX_PATH] = {};
    ::GetWindowsDirectoryW(windows, MAX_PATH);
    EXPECT_FALSE(fs::exists(fs::path(windows) / L"settings.ini"));
    wchar_t fromWinIni[MAX_PATH] = {};
    ::GetProfileStringW(L"Settings", L"LastPath", L"none", fromWinIni, MAX_PATH);
    EXPECT_STREQ(fromWinIni, L"none");
}

} // namespace
