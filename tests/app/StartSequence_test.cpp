#include "CStartSequence.h"
#include "UiLanguage.h"
#include "UserEnvironment.h"

#include <gtest/gtest.h>

namespace {

const std::string ROOT = CRegistryStore::ROOT_KEY;
const std::string OLDER = CRegistryStore::OLDER_ROOT_KEY;

TEST(StartSequence, FirstStartCopiesTheOlderStoreOnceAndSettlesTheOptions) {
    UserEnvironment user;
    {
        std::filesystem::create_directories(user.StoreFile().parent_path());
        CRegistryDatabase older(user.StoreFile());
        ASSERT_TRUE(older.WriteValues(OLDER + "\\COM3", {CRegistryValue::String("PortName", "COM3"),
                                                         CRegistryValue::Dword("PeerPort", 4001)}));
    }
    {
        CStartSequence start;
        ASSERT_TRUE(start.Run());
        EXPECT_TRUE(start.FirstStart());
        EXPECT_EQ(start.Store().PortKeyNames(), std::vector<std::string>{"COM3"});
        EXPECT_EQ(start.TrayMode(), 1);
        EXPECT_EQ(start.Store().ReadOption("TRAY", 7), 1u);
        EXPECT_TRUE(start.ProgramLog().IsSystemLogOpen());

        CStartSequence whileRunning;
        EXPECT_FALSE(whileRunning.Run());

        start.Store().WriteOption("TRAY", 0);
        start.Store().WriteOption("LANGUAGE", 2);
    }
    {
        CRegistryDatabase older(user.StoreFile());
        ASSERT_TRUE(older.WriteString(OLDER + "\\COM4", "PortName", "COM4"));
    }
    CStartSequence second;
    ASSERT_TRUE(second.Run());
    EXPECT_FALSE(second.FirstStart());
    EXPECT_EQ(second.Store().PortKeyNames(), std::vector<std::string>{"COM3"});
    EXPECT_EQ(second.TrayMode(), 0);
    EXPECT_EQ(second.UiLanguage(), UI_LANGUAGE_ENGLISH);
}

TEST(StartSequence, NoOlderStoreMeansNoMigration) {
    UserEnvironment user;
    CStartSequence start;
    ASSERT_TRUE(start.Run());
    EXPECT_FALSE(start.FirstStart());
    EXPECT_EQ(start.Store().CountPortKeys(), 0);
    EXPECT_EQ(start.TrayMode(), 1);
}

TEST(UiLanguage, OptionWinsOtherwiseTheSystemLanguage) {
    struct Case {
        uint32_t option;
        QLocale::Language system;
        int expected;
    };
    const Case cases[] = {
        {1, QLocale::English, UI_LANGUAGE_KOREAN}, {2, QLocale::Korean, UI_LANGUAGE_ENGLISH},
        {3, QLocale::French, UI_LANGUAGE_CHINESE}, {0, QLocale::Chinese, UI_LANGUAGE_CHINESE},
        {0, QLocale::Korean, UI_LANGUAGE_KOREAN},  {0, QLocale::French, UI_LANGUAGE_ENGLISH},
        {7, QLocale::Korean, UI_LANGUAGE_KOREAN},  {0xFFFFFFFF, QLocale::German, UI_LANGUAGE_ENGLISH},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ChooseUiLanguage(c.option, c.system), c.expected) << c.option << " " << c.system;
}

} // namespace
