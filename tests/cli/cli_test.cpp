#include "model/atomic_file.h"
#include "model/cp1251.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

extern char** environ;
namespace fs = std::filesystem;

namespace {

struct Result {
    int rc = -1;
    std::string out;
    std::string err;
};

std::string readBytes(const fs::path& p) {
    std::string bytes;
    EXPECT_TRUE(atomic_file::readAll(p.string(), bytes)) << p;
    return bytes;
}

class Cli : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("zirezid-cli-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    // Runs the real program with its output captured in files.
    Result run(std::vector<std::string> args) {
        args.insert(args.begin(), ZIREZID_CLI);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const std::string outPath = (dir / "stdout").string();
        const std::string errPath = (dir / "stderr").string();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        pid_t pid = 0;
        Result r;
        const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0)
            return r;
        int status = 0;
        ::waitpid(pid, &status, 0);
        r.rc = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        r.out = readBytes(outPath);
        r.err = readBytes(errPath);
        fs::remove(outPath);
        fs::remove(errPath);
        return r;
    }

    std::string file(const char* name) const { return (dir / name).string(); }
    std::string copyData(const char* name) {
        fs::copy_file(fs::path(CLI_DATA_DIR) / name, dir / name);
        return file(name);
    }

    fs::path dir;
};

TEST_F(Cli, NewFileReadsBackUnchangedThroughCheckAndDump) {
    const std::string f = file("site.qor");
    Result r = run({"new", f});
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_TRUE(fs::is_directory(dir / "site.messages"));
    const std::string bytes = readBytes(f);
    EXPECT_EQ(bytes.substr(0, 25), "[SYSPARAM]\r\nisVisible=1\r\n");

    r = run({"check", f});
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.err, "");
    const Result dump = run({"dump", f});
    ASSERT_EQ(dump.rc, 0) << dump.err;
    EXPECT_EQ(dump.out.substr(0, dump.out.find('\n')),
              "KT_BASE\tБаза настроек: site.qor\t29\t0 1X 2X 3 5XX 6X ");
    EXPECT_NE(dump.out.find("\nSYSPARAM\tсистемные параметры\t0\t7316 0 12 12 0 1 2000 500 200 1 \n"),
              std::string::npos);
    EXPECT_NE(dump.out.find("\nTRK(2)\tлиния 2\t12\t"), std::string::npos);
    EXPECT_NE(dump.out.find("\nMENU(49)\tменю 49\t549\t'' 0 0 00 00 00 00 00 00 00 00 00 00 00 \n"),
              std::string::npos);
    EXPECT_NE(dump.out.find("\nDEVICEINFO\tданные о системе\t90\t"), std::string::npos);

    // Storing a value the file already holds saves the same bytes; so does a second save of a change.
    r = run({"set", f, "SYSPARAM", "NRingsToPickup", "1"});
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(readBytes(f), bytes);
    ASSERT_EQ(run({"set", f, "MENU(2)", "Desc", "Главное меню"}).rc, 0);
    const std::string once = readBytes(f);
    ASSERT_EQ(run({"set", f, "MENU(2)", "Desc", "Главное меню"}).rc, 0);
    EXPECT_EQ(readBytes(f), once);
    EXPECT_NE(once.find(*cp1251::fromUtf8("Desc='Главное меню'\r\n")), std::string::npos);
    EXPECT_NE(run({"dump", f}).out.find("\nMENU(2)\tменю 2 : Главное меню\t502\t'Главное меню' "),
              std::string::npos);

    ASSERT_EQ(run({"new", "--type", "QOR11", file("small.qor")}).rc, 0);
    const std::string small = run({"dump", file("small.qor")}).out;
    EXPECT_EQ(small.find("TRK(2)"), std::string::npos);
    EXPECT_NE(small.find("KT_BASE\tБаза настроек: small.qor\t19\t"), std::string::npos);
    EXPECT_EQ(run({"get", file("small.qor"), "DEVICEINFO", "ConfigID"}).out, "19\n");
}

TEST_F(Cli, SetStoresEditAndStoredForms) {
    const std::string f = file("site.qor");
    ASSERT_EQ(run({"new", f}).rc, 0);
    struct Case {
        std::vector<std::string> set;
        const char* object;
        const char* key;
        const char* edit;
        const char* line; // as written to the file
    };
    const Case cases[] = {
        {{"TIMETABLE", "DayStart[1]", "08:30"},
         "TIMETABLE",
         "DayStart[1]",
         "08:30\n",
         "DayStart[1]=0830\r\n"},
        {{"TIMETABLE", "HolidayStart[0]", "31.12"},
         "TIMETABLE",
         "HolidayStart[0]",
         "31.12\n",
         "HolidayStart[0]=3112\r\n"},
        {{"--stored", "TIMETABLE", "DayEnd[7]", "1745"},
         "TIMETABLE",
         "DayEnd[7]",
         "17:45\n",
         "DayEnd[7]=1745\r\n"},
        {{"--stored", "MENU(3)", "ActionDTMF[5]", "0107"},
         "MENU(3)",
         "ActionDTMF[5]",
         "07\n",
         "ActionDTMF[5]=0107\r\n"},
        {{"--stored", "MENU(3)", "ActionDTMF[1]", "02"},
         "MENU(3)",
         "ActionDTMF[1]",
         "002000\n",
         "ActionDTMF[1]=02002000\r\n"},
        {{"MENU(3)", "ActionDTMF[1]", "013000"},
         "MENU(3)",
         "ActionDTMF[1]",
         "013000\n",
         "ActionDTMF[1]=02013000\r\n"},
        {{"MAILBOX(2)", "Password", "4321"}, "MAILBOX(2)", "Password", "4321\n", "Pwd=4321\r\n"},
        {{"SYSPARAM", "Password", "123456"}, "SYSPARAM", "Password", "123456\n", "Password=123456\r\n"},
        {{"MENU(0)", "Desc", "--", "--важно--"}, "MENU(0)", "Desc", "--важно--\n", "Desc='--"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"set"};
        std::vector<std::string> rest = c.set;
        if (rest.front() == "--stored") {
            args.push_back("--stored");
            rest.erase(rest.begin());
        }
        args.push_back(f);
        args.insert(args.end(), rest.begin(), rest.end());
        const Result r = run(args);
        EXPECT_EQ(r.rc, 0) << c.key << ": " << r.err;
        EXPECT_EQ(run({"get", f, c.object, c.key}).out, c.edit) << c.key;
        EXPECT_NE(readBytes(f).find(c.line), std::string::npos) << c.line;
    }
}

TEST_F(Cli, RefusedValueShowsTheProgramsMessageAndLeavesTheFile) {
    const std::string f = file("site.qor");
    ASSERT_EQ(run({"new", f}).rc, 0);
    const std::string bytes = readBytes(f);
    Result r = run({"set", f, "SYSPARAM", "NRingsToPickup", "100"});
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.err, "NRingsToPickup (Число звонков до ответа на вызов) : "
                     "100 - вне диапазона допустимых значений: [1...99]\n");
    r = run({"set", f, "SYSPARAM", "Password", "1"});
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.err, "Password (Пароль настройки) : Недопустимая длина строки\n");
    r = run({"set", f, "TIMETABLE", "DayStart[1]", "25:30"});
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(r.err.find("Недопустимый формат времени"), std::string::npos);
    r = run({"set", f, "TIMETABLE", "HolidayEnd[1]", "30.02"});
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(r.err.find("Недопустимый формат даты"), std::string::npos);
    r = run({"set", f, "MENU(1)", "Desc", "中文"});
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(r.err.find("Desc (Описание меню) : "), std::string::npos);
    r = run({"set", "--stored", f, "MENU(1)", "ActionTO", "99"});
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(r.err.find("Недопустимый тип действия"), std::string::npos);
    r = run({"set", f, "MENU(1)", "ActionTO", "12"}); // "no action" takes no parameter
    EXPECT_EQ(r.rc, 1);
    EXPECT_FALSE(r.err.empty());
    EXPECT_EQ(readBytes(f), bytes);
}

TEST_F(Cli, BadFilesGiveTheLoadMessagesAndNeverCrash) {
    Result r = run({"check", copyData("no_config.qor")});
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.err, "Неизвестная конфигурация базы данных. Загрузка невозможна\n");
    r = run({"check", copyData("garbage.qor")});
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.err, "Неизвестная конфигурация базы данных. Загрузка невозможна\n");

    const std::string ring = copyData("ring_out_of_range.qor");
    r = run({"check", ring});
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(r.err.find("NRingsToPickup (Число звонков до ответа на вызов) : 100 - вне диапазона"),
              std::string::npos);
    // A set on a file that does not load leaves it as it was.
    EXPECT_EQ(run({"set", ring, "SYSPARAM", "GainRxdB12", "3"}).rc, 1);
    EXPECT_EQ(readBytes(ring), readBytes(fs::path(CLI_DATA_DIR) / "ring_out_of_range.qor"));

    // Bad times and dates show their messages and keep their defaults; the file still loads.
    const std::string times = copyData("bad_time_and_date.qor");
    r = run({"check", times});
    EXPECT_EQ(r.rc, 0);
    EXPECT_NE(r.err.find("Недопустимый формат времени"), std::string::npos);
    EXPECT_NE(r.err.find("Недопустимый формат даты"), std::string::npos);
    EXPECT_EQ(run({"get", times, "TIMETABLE", "DayStart[1]"}).out, "00:00\n");

    r = run({"check", file("missing.qor")});
    EXPECT_EQ(r.rc, 1);
    EXPECT_FALSE(r.err.empty());
    r = run({"check", dir.string()});
    EXPECT_EQ(r.rc, 1);
}

TEST_F(Cli, HandWrittenFileOpensAndKeepsItsForeignParts) {
    const std::string f = copyData("lf_hand_written.qor");
    const Result dump = run({"dump", f});
    ASSERT_EQ(dump.rc, 0) << dump.err;
    EXPECT_EQ(dump.err, "");
    EXPECT_NE(dump.out.find("\nMENU(0)\tменю 0 : Главное\t500\t'Главное' 0 0 00 00 00 00 00 0102 "),
              std::string::npos);
    EXPECT_EQ(dump.out.find("MENU(1)\t"), std::string::npos);  // isVisible=0: not in the tree
    EXPECT_EQ(dump.out.find("SYSPARAM\t"), std::string::npos); // no isVisible: hidden
    EXPECT_EQ(run({"get", f, "MENU(0)", "Message"}).out, "passwd\n");
    EXPECT_EQ(run({"get", f, "MENU(1)", "Desc"}).out, "\n");

    ASSERT_EQ(run({"set", f, "MENU(0)", "CallSLPOnStart", "1"}).rc, 0);
    const std::string saved = readBytes(f);
    EXPECT_NE(saved.find("[MENU(1)]\r\nisVisible=0\r\n"), std::string::npos);
    EXPECT_NE(saved.find("[SYSPARAM]\r\nisVisible=0\r\n"), std::string::npos);
    EXPECT_NE(saved.find("Message=passwd\r\n"), std::string::npos);
    ASSERT_EQ(run({"check", f}).rc, 0);
}

TEST_F(Cli, ConvertChangesTheLinesBothWays) {
    const std::string f = file("site.qor");
    ASSERT_EQ(run({"new", f}).rc, 0);
    ASSERT_EQ(run({"set", f, "TRK(2)", "DayMenu", "7"}).rc, 0);
    ASSERT_EQ(run({"convert", "--type", "QOR11", f}).rc, 0);
    std::string dump = run({"dump", f}).out;
    EXPECT_EQ(dump.find("\nTRK(2)\t"), std::string::npos);
    EXPECT_EQ(dump.find("\nSLP(2)\t"), std::string::npos);
    EXPECT_EQ(run({"get", f, "DEVICEINFO", "ConfigID"}).out, "19\n");
    ASSERT_EQ(run({"convert", "--type", "QOR22", f}).rc, 0);
    dump = run({"dump", f}).out;
    EXPECT_NE(dump.find("\nTRK(2)\tлиния 2\t12\t0 0 0 0 0 \n"), std::string::npos);
    EXPECT_NE(dump.find("\nSLP(2)\tоператор 2\t22\t"), std::string::npos);
    EXPECT_EQ(run({"get", f, "DEVICEINFO", "ConfigID"}).out, "29\n");
}

TEST_F(Cli, WrongUsageExitsWithTwo) {
    const std::string f = file("site.qor");
    ASSERT_EQ(run({"new", f}).rc, 0);
    const std::string bytes = readBytes(f);
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"frobnicate"},
        {"new"},
        {"new", "--type", "QOR33", file("x.qor")},
        {"new", "--type"},
        {"check", f, f},
        {"get", f, "SYSPARAM"},
        {"get", f, "NOSUCH(1)", "Desc"},
        {"get", f, "SYSPARAM", "NoSuchKey"},
        {"get", f, "MENUS", "MENU(1)"},
        {"set", f, "SYSPARAM", "Password"},
        {"set", "--bogus", f, "SYSPARAM", "Password", "1234"},
        {"set", f, "DEVICEINFO", "ConfigID", "19"},
        {"convert", f},
        {"dump"},
    };
    for (const auto& args : bad) {
        const Result r = run(args);
        EXPECT_EQ(r.rc, 2) << (args.empty() ? "" : args.front());
        EXPECT_FALSE(r.err.empty());
    }
    EXPECT_FALSE(fs::exists(dir / "x.qor"));
    EXPECT_EQ(readBytes(f), bytes);
}

} // namespace
