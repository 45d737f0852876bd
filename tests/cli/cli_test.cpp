#include "model/atomic_file.h"
#include "model/cp1251.h"
#include "tests/support/fake_system.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include <filesystem>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;
namespace fs = std::filesystem;

namespace {

// What the one option rule says, in every command alike.
const std::string kUnknownOption = "неизвестный параметр";
const std::string kNoValue = "не указано значение";

struct Result {
    int rc = -1;
    std::string out;
    std::string err;
};

void writeBytesTo(const std::string& path, const std::string& bytes) {
    ASSERT_TRUE(atomic_file::writeAll(path, bytes));
}

std::string readBytes(const fs::path& p) {
    std::string bytes;
    EXPECT_TRUE(atomic_file::readAll(p.string(), bytes)) << p;
    return bytes;
}

class Cli : public ::testing::Test {
protected:
    void SetUp() override {
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '-'); // a case of a parameterised suite
        dir = fs::temp_directory_path() / ("zirezid-cli-" + std::to_string(::getpid()) + "-" + name);
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    // Runs the real program with its output captured in files.
    Result run(std::vector<std::string> args) {
        args.insert(args.begin(), ZIREZID_CLI);
        // A run that blocks is ended, so that a hang fails its test instead of stopping the suite.
        args.insert(args.begin(), {"/usr/bin/timeout", "-s", "KILL", "30"});
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
    EXPECT_EQ(dump.out.substr(0, dump.out.find('\n')), "KT_BASE\tБаза настроек: site.qor\t29\t0 1X 2X 3 5XX 6X ");
    EXPECT_NE(dump.out.find("\nSYSPARAM\tсистемные параметры\t0\t7316 0 12 12 0 1 2000 500 200 1 \n"),
              std::string::npos);
    EXPECT_NE(dump.out.find("\nTRK(2)\tлиния 2\t12\t"), std::string::npos);
    EXPECT_NE(dump.out.find("\nMENU(49)\tменю 49\t549\t'' 0 0 00 00 00 00 00 00 00 00 00 00 00 \n"), std::string::npos);
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
    EXPECT_NE(run({"dump", f}).out.find("\nMENU(2)\tменю 2 : Главное меню\t502\t'Главное меню' "), std::string::npos);

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
        {{"TIMETABLE", "DayStart[1]", "08:30"}, "TIMETABLE", "DayStart[1]", "08:30\n", "DayStart[1]=0830\r\n"},
        {{"TIMETABLE", "HolidayStart[0]", "31.12"},
         "TIMETABLE",
         "HolidayStart[0]",
         "31.12\n",
         "HolidayStart[0]=3112\r\n"},
        {{"--stored", "TIMETABLE", "DayEnd[7]", "1745"}, "TIMETABLE", "DayEnd[7]", "17:45\n", "DayEnd[7]=1745\r\n"},
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
        {{"MENU(3)", "ActionDTMF[1]", "013000"}, "MENU(3)", "ActionDTMF[1]", "013000\n", "ActionDTMF[1]=02013000\r\n"},
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
    EXPECT_NE(r.err.find("NRingsToPickup (Число звонков до ответа на вызов) : 100 - вне диапазона"), std::string::npos);
    // A set on a file that does not load leaves it as it was.
    EXPECT_EQ(run({"set", ring, "SYSPARAM", "GainRxdB12", "3"}).rc, 1);
    EXPECT_EQ(readBytes(ring), readBytes(fs::path(CLI_DATA_DIR) / "ring_out_of_range.qor"));

    // Bad times and dates show their messages and keep their defaults: the file opens, but check says it is
    // not good, and a set refuses to save defaults over what the file holds.
    const std::string times = copyData("bad_time_and_date.qor");
    r = run({"check", times});
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(r.err.find("Недопустимый формат времени"), std::string::npos);
    EXPECT_NE(r.err.find("Недопустимый формат даты"), std::string::npos);
    EXPECT_EQ(run({"get", times, "TIMETABLE", "DayStart[1]"}).out, "00:00\n");
    r = run({"set", times, "SYSPARAM", "NRingsToPickup", "3"});
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(r.err.find("Файл не изменён: " + times + ": в нём есть неверные значения"), std::string::npos) << r.err;
    EXPECT_EQ(readBytes(times), readBytes(fs::path(CLI_DATA_DIR) / "bad_time_and_date.qor"));

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
    EXPECT_NE(dump.out.find("\nMENU(0)\tменю 0 : Главное\t500\t'Главное' 0 0 00 00 00 00 00 0102 "), std::string::npos);
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

TEST_F(Cli, EveryCommandReadsItsOptionsByOneRule) {
    const std::string sent = file("a.txt");
    writeBytesTo(sent, "payload");
    const std::string noPort = file("no-such-port");
    // A mistyped option is wrong usage everywhere; the transfer commands once took it for a file to send.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"ymodem", "send", "--port", noPort, "--protocl", "ymodem-g", sent},
          std::vector<std::string>{"xmodem", "send", "--port", noPort, "--bogus", sent},
          std::vector<std::string>{"info", "--port", noPort, "--bogus"},
          std::vector<std::string>{"dump", "--bogus", sent}}) {
        const Result r = run(args);
        EXPECT_EQ(r.rc, 2) << args[0];
        EXPECT_NE(r.err.find(kUnknownOption + " --"), std::string::npos) << args[0] << ": " << r.err;
    }
    // An option without its value names what is missing, in every group alike.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"ymodem", "send", sent, "--port"}, std::vector<std::string>{"info", "--port"},
          std::vector<std::string>{"new", "--type"}}) {
        const Result r = run(args);
        EXPECT_EQ(r.rc, 2) << args[0];
        EXPECT_NE(r.err.find(kNoValue), std::string::npos) << args[0] << ": " << r.err;
    }
    // The direction may stand after the options; the port is then tried (and here is not there).
    EXPECT_EQ(run({"xmodem", "--port", noPort, "send", sent}).rc, 1);
}

// One way of calling a command as its usage line shows it: the words before its options ("send", "import") and
// the options of that way, each with whether it takes a value.
struct UsageWay {
    std::string command;
    std::vector<std::string> lead;
    std::vector<std::pair<std::string, bool>> options;
};

// Every way of calling every command, read from the program's own usage text, so that a command added later is
// held to the same rule without this test being told of it.
std::vector<UsageWay> usageWays() {
    static const std::string help = [] {
        std::string text;
        if (FILE* in = ::popen(ZIREZID_CLI " --help", "r")) {
            char buf[4096];
            for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, in)) > 0;)
                text.append(buf, n);
            ::pclose(in);
        }
        return text;
    }();
    std::vector<UsageWay> ways;
    std::istringstream lines(help);
    const std::string head = "  zirezid-cli ";
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(head, 0) != 0)
            continue;
        std::istringstream words(line.substr(head.size()));
        std::string command;
        words >> command;
        std::vector<std::string> tokens{std::istream_iterator<std::string>(words), {}};
        UsageWay way{command, {}, {}};
        bool first = true;
        for (std::size_t i = 0; i <= tokens.size(); ++i) {
            if (i == tokens.size() || tokens[i] == "|") {
                ways.push_back(way);
                way = UsageWay{command, {}, {}};
                first = true;
                continue;
            }
            std::string word = tokens[i];
            if (first && word[0] != '-' &&
                word.find_first_not_of("abcdefghijklmnopqrstuvwxyz-|") == std::string::npos) {
                // "send|receive": each is a way of its own with the same options.
                std::istringstream alternatives(word);
                for (std::string lead; std::getline(alternatives, lead, '|');)
                    way.lead.push_back(lead);
            }
            first = false;
            if (word[0] == '[')
                word.erase(0, 1);
            if (!word.empty() && word.back() == ']')
                word.pop_back();
            if (word.size() < 2 || word[0] != '-' || !std::isalpha(static_cast<unsigned char>(word.back())))
                continue;
            const bool flag = tokens[i].back() == ']' || i + 1 == tokens.size() || tokens[i + 1] == "|" ||
                              tokens[i + 1][0] == '-' || tokens[i + 1][0] == '[';
            way.options.push_back({word, !flag});
        }
    }
    return ways;
}

std::vector<std::string> usageCommands() {
    std::vector<std::string> names;
    for (const UsageWay& way : usageWays())
        if (names.empty() || names.back() != way.command)
            names.push_back(way.command);
    return names;
}

TEST_F(Cli, UsageTextNamesEveryCommandGroup) {
    const std::vector<std::string> names = usageCommands();
    for (const char* one : {"new", "dump", "info", "write", "sound", "ymodem", "ports", "lint", "call", "flow", "tts"})
        EXPECT_NE(std::find(names.begin(), names.end(), one), names.end()) << one;
    EXPECT_GE(usageWays().size(), 20U);
}

// One case per command of the usage text, each with its own time limit.
class EveryCommand : public Cli, public ::testing::WithParamInterface<std::string> {};

TEST_P(EveryCommand, RefusesAMistypedOptionAndAMissingValueByTheOneRule) {
    const std::string in = file("in.qor");
    const std::string out = file("out.wav");
    for (const UsageWay& way : usageWays()) {
        if (way.command != GetParam())
            continue;
        for (const std::string& lead : way.lead.empty() ? std::vector<std::string>{""} : way.lead) {
            std::vector<std::string> start{way.command};
            if (!lead.empty())
                start.push_back(lead);
            const std::string where = way.command + " " + lead;
            // A typo of an option is refused before anything is read or written, and never taken for a file.
            std::vector<std::string> args = start;
            args.insert(args.end(), {"--normalise", in, out});
            Result r = run(args);
            EXPECT_EQ(r.rc, 2) << where << ": " << r.err;
            EXPECT_NE(r.err.find(kUnknownOption + " --normalise"), std::string::npos) << where << ": " << r.err;
            EXPECT_FALSE(fs::exists(out)) << where;
            for (const auto& [option, takesValue] : way.options) {
                // Each option the usage line names is one the command takes: the typo after it is the one refused.
                args = start;
                args.push_back(option);
                if (takesValue)
                    args.push_back("1");
                args.push_back("--bogus");
                r = run(args);
                EXPECT_EQ(r.rc, 2) << where << ' ' << option << ": " << r.err;
                EXPECT_NE(r.err.find(kUnknownOption + " --bogus"), std::string::npos)
                    << where << ' ' << option << ": " << r.err;
                if (!takesValue)
                    continue;
                // A value left out at the end is named as missing, not taken from nowhere or read as a file.
                args = start;
                args.push_back(option);
                r = run(args);
                EXPECT_EQ(r.rc, 2) << where << ' ' << option << ": " << r.err;
                EXPECT_NE(r.err.find(kNoValue), std::string::npos) << where << ' ' << option << ": " << r.err;
            }
            // After "--" a word that starts with "--" is a plain argument (a file or a text) in every command; in a
            // folder that is not there, so that no command writes it.
            args = start;
            args.insert(args.end(), {"--", "--no-such-folder/x"});
            r = run(args);
            EXPECT_EQ(r.err.find(kUnknownOption), std::string::npos) << where << ": " << r.err;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Cli, EveryCommand, ::testing::ValuesIn(usageCommands()),
                         [](const ::testing::TestParamInfo<std::string>& one) { return one.param; });

} // namespace

namespace {

// Sets an environment variable for the programs started in one test.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

std::size_t countEntries(const fs::path& folder, const std::string& prefix = {}) {
    std::size_t n = 0;
    for (const auto& e : fs::directory_iterator(folder))
        n += e.path().filename().string().rfind(prefix, 0) == 0;
    return n;
}

} // namespace

TEST_F(Cli, TwoProgramsSettingOneFileAtOnceKeepBothEdits) {
    const std::string f = file("site.qor");
    ASSERT_EQ(run({"new", f}).rc, 0);
    for (int round = 0; round < 25; ++round) {
        const std::string a = std::to_string(1 + round % 9), b = std::to_string(10 + round);
        std::vector<std::vector<std::string>> jobs = {{"set", f, "SYSPARAM", "NRingsToPickup", a},
                                                      {"set", f, "MENU(3)", "Desc", "правка " + b}};
        std::vector<pid_t> pids;
        for (std::size_t j = 0; j < jobs.size(); ++j) {
            auto args = jobs[j];
            args.insert(args.begin(), ZIREZID_CLI);
            std::vector<char*> argv;
            for (auto& x : args)
                argv.push_back(x.data());
            argv.push_back(nullptr);
            const std::string errPath = file(("err" + std::to_string(j)).c_str());
            posix_spawn_file_actions_t actions;
            posix_spawn_file_actions_init(&actions);
            posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            pid_t pid = -1;
            ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
            posix_spawn_file_actions_destroy(&actions);
            pids.push_back(pid);
        }
        for (std::size_t j = 0; j < pids.size(); ++j) {
            int status = 0;
            ::waitpid(pids[j], &status, 0);
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
                << "round " << round << ": " << readBytes(file(("err" + std::to_string(j)).c_str()));
        }
        ASSERT_EQ(run({"get", f, "SYSPARAM", "NRingsToPickup"}).out, a + "\n") << "round " << round;
        ASSERT_EQ(run({"get", f, "MENU(3)", "Desc"}).out, "правка " + b + "\n") << "round " << round;
    }
    EXPECT_EQ(countEntries(dir, ".site.qor.saving-"), 0u);
}

TEST_F(Cli, ClockRefusesADateThatDoesNotExistBeforeTouchingTheLine) {
    // The port does not exist: a date that passes the check reaches the port and fails there (exit 1); an
    // impossible one is wrong usage (exit 2) and the port is never tried.
    const std::string port = file("no-port");
    for (const char* impossible : {"2024-02-31 10:00:00", "2023-02-29 12:00:00", "2024-04-31 00:00:00",
                                   "2024-13-01 00:00:00", "2024-00-10 00:00:00", "2024-06-00 00:00:00"}) {
        const Result r = run({"clock", "--port", port, "--set", impossible});
        EXPECT_EQ(r.rc, 2) << impossible << ": " << r.err;
        EXPECT_EQ(r.err.find("COM"), std::string::npos) << impossible << ": the port was tried: " << r.err;
    }
    for (const char* possible : {"2024-02-29 23:59:59", "2000-02-29 00:00:00", "2099-12-31 10:00:00"}) {
        const Result r = run({"clock", "--port", port, "--set", possible});
        EXPECT_EQ(r.rc, 1) << possible << ": " << r.err;
    }
}

TEST_F(Cli, SoundRefusesWhatIsNotARegularFileAndNamesWhatFailed) {
    // A named pipe with no writer must not block the conversion.
    const std::string fifo = file("pipe.ktm");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto start = std::chrono::steady_clock::now();
    Result r = run({"sound", "to-wav", fifo, file("out.wav")});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.err, "Ошибка 203: Файл " + fifo + ": это не обычный файл\n");
    r = run({"sound", "to-device", dir.string(), file("out.ktm")});
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.err, "Ошибка 203: Файл " + dir.string() + ": это папка, а не файл\n");
    r = run({"sound", "to-wav", file("missing.ktm"), file("out.wav")});
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.err, "Ошибка 203: Невозможно открыть файл " + file("missing.ktm") + ": нет такого файла или папки\n");

    // The output's failures name the output, not the input.
    writeBytesTo(file("tone.ktm"), std::string(4000, '\x37'));
    r = run({"sound", "to-wav", file("tone.ktm"), file("no/such/out.wav")});
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.err,
              "Ошибка 204: Невозможно записать файл " + file("no/such/out.wav") + ": нет такого файла или папки\n");
    if (::geteuid() != 0) {
        fs::create_directories(dir / "locked");
        fs::permissions(dir / "locked", fs::perms::owner_read | fs::perms::owner_exec);
        r = run({"sound", "to-wav", file("tone.ktm"), file("locked/out.wav")});
        fs::permissions(dir / "locked", fs::perms::owner_all);
        EXPECT_EQ(r.rc, 1);
        EXPECT_EQ(r.err, "Ошибка 204: Невозможно записать файл " + file("locked/out.wav") + ": нет прав доступа\n");
    }
    // pipe.ktm, tone.ktm (and locked): nothing half-written
    EXPECT_EQ(countEntries(dir), ::geteuid() != 0 ? 3u : 2u);
}

TEST_F(Cli, AFileSizeLimitIsReportedAndLeavesNoPartOfTheOutput) {
    writeBytesTo(file("long.ktm"), std::string(200000, '\x37')); // 400,000 samples: an 800 KB WAV
    const std::string errPath = file("err");
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const rlimit limit{64 * 1024, 64 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const int fd = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(fd, 2);
        ::execl(ZIREZID_CLI, ZIREZID_CLI, "sound", "to-wav", file("long.ktm").c_str(), file("long.wav").c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(readBytes(errPath), "Ошибка 204: Невозможно записать файл " + file("long.wav") +
                                      ": файл слишком велик (превышен предел размера файла)\n");
    fs::remove(errPath);
    EXPECT_EQ(countEntries(dir), 1u) << "a part of the output was left";
}

TEST_F(Cli, ScratchFoldersOfKilledCommandsGoAndAMissingTempFolderIsNamed) {
    fs::create_directories(dir / "tmp");
    const ScopedEnv tmpdir("TMPDIR", (dir / "tmp").string());
    // One left by a killed command (its lock file is held by nobody), one of a command still running.
    fs::create_directories(dir / "tmp" / "zirezid-cli-Killed" / "messages" / "50001");
    writeBytesTo((dir / "tmp" / "zirezid-cli-Killed" / ".in-use").string(), "");
    writeBytesTo((dir / "tmp" / "zirezid-cli-Killed" / "messages" / "50001" / "a.wav").string(), "RIFF");
    fs::create_directories(dir / "tmp" / "zirezid-cli-Running");
    writeBytesTo((dir / "tmp" / "zirezid-cli-Running" / ".in-use").string(), "");
    const int held = ::open((dir / "tmp" / "zirezid-cli-Running" / ".in-use").c_str(), O_RDONLY);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);

    const Result r = run({"clock", "--port", file("no-port")});
    EXPECT_EQ(r.rc, 1);
    EXPECT_FALSE(fs::exists(dir / "tmp" / "zirezid-cli-Killed"));
    EXPECT_TRUE(fs::exists(dir / "tmp" / "zirezid-cli-Running"));
    EXPECT_EQ(countEntries(dir / "tmp"), 1u) << "the command left its own scratch folder";
    ::close(held);

    const ScopedEnv missing("TMPDIR", file("gone"));
    const Result m = run({"info", "--port", file("no-port")});
    EXPECT_EQ(m.rc, 1);
    EXPECT_EQ(m.err, "Временная папка недоступна (TMPDIR): " + file("gone") + ": нет такого файла или папки\n");
}

namespace {

// Lines of diff's output split into their tab-separated cells.
std::vector<std::vector<std::string>> cellsOf(const std::string& out) {
    std::vector<std::vector<std::string>> lines;
    std::size_t start = 0;
    while (start < out.size()) {
        const std::size_t end = out.find('\n', start);
        const std::string line = out.substr(start, end - start);
        std::vector<std::string> cells;
        std::size_t from = 0;
        for (std::size_t tab; (tab = line.find('\t', from)) != std::string::npos; from = tab + 1)
            cells.push_back(line.substr(from, tab - from));
        cells.push_back(line.substr(from));
        lines.push_back(cells);
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return lines;
}

using Cells = std::vector<std::string>;

} // namespace

TEST_F(Cli, DiffOfEqualFilesAndOfOneFieldExitsLikeDiff) {
    const std::string a = file("a.qor"), b = file("b.qor");
    ASSERT_EQ(run({"new", a}).rc, 0);
    ASSERT_EQ(run({"new", b}).rc, 0);
    Result r = run({"diff", a, b});
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");

    ASSERT_EQ(run({"set", b, "TIMETABLE", "DayEnd[5]", "17:45"}).rc, 0);
    ASSERT_EQ(run({"set", b, "MENU(12)", "Desc", "Склад ночью"}).rc, 0);
    r = run({"diff", a, b});
    EXPECT_EQ(r.rc, 1) << r.err;
    EXPECT_EQ(r.err, "");
    const auto lines = cellsOf(r.out);
    ASSERT_EQ(lines.size(), 2u) << r.out;
    EXPECT_EQ(lines[0], (Cells{"TIMETABLE", "DayEnd[5]", "23:59", "17:45"}));
    EXPECT_EQ(lines[1], (Cells{"MENU(12)", "Desc", "", "Склад ночью"}));

    // The other way round the values change places; a file against itself is equal.
    EXPECT_EQ(cellsOf(run({"diff", b, a}).out)[0], (Cells{"TIMETABLE", "DayEnd[5]", "17:45", "23:59"}));
    EXPECT_EQ(run({"diff", b, b}).rc, 0);
}

TEST_F(Cli, DiffSeesARecordingsBytesAndTheObjectsOfAnotherUnitType) {
    const std::string a = file("a.qor"), b = file("b.qor"), small = file("small.qor");
    ASSERT_EQ(run({"new", a}).rc, 0);
    ASSERT_EQ(run({"set", a, "MENU(0)", "Message", "hello.wav"}).rc, 0);
    fs::copy_file(a, b);
    fs::create_directories(dir / "a.messages/50001");
    fs::create_directories(dir / "b.messages/50001");
    writeBytesTo((dir / "a.messages/50001/hello.wav").string(), "RIFF\x01\x02\x03");
    writeBytesTo((dir / "b.messages/50001/hello.wav").string(), "RIFF\x01\x02\x04");
    Result r = run({"diff", a, b});
    EXPECT_EQ(r.rc, 1) << r.err;
    auto lines = cellsOf(r.out);
    ASSERT_EQ(lines.size(), 1u) << r.out;
    EXPECT_EQ(lines[0][0], "MENU(0)");
    EXPECT_EQ(lines[0][1], "Message");
    const std::string prefix = "hello.wav (7 байт, CRC32 ";
    EXPECT_EQ(lines[0][2].substr(0, prefix.size()), prefix);
    EXPECT_EQ(lines[0][3].substr(0, prefix.size()), prefix);
    EXPECT_NE(lines[0][2], lines[0][3]);
    // Same bytes: equal again.
    writeBytesTo((dir / "b.messages/50001/hello.wav").string(), "RIFF\x01\x02\x03");
    EXPECT_EQ(run({"diff", a, b}).rc, 0);

    ASSERT_EQ(run({"new", "--type", "QOR11", small}).rc, 0);
    r = run({"diff", small, file("fresh.qor")});
    EXPECT_EQ(r.rc, 2); // fresh.qor does not exist yet
    ASSERT_EQ(run({"new", file("fresh.qor")}).rc, 0);
    r = run({"diff", small, file("fresh.qor")});
    EXPECT_EQ(r.rc, 1) << r.err;
    EXPECT_EQ(r.out, "TRK(2)\t\t(нет объекта)\tлиния 2\n"
                     "SLP(2)\t\t(нет объекта)\tоператор 2\n"
                     "DEVICEINFO\tConfigID\t19\t29\n");
}

TEST_F(Cli, DiffOfAFileThatDoesNotLoadExitsWithTwoAndItsMessage) {
    const std::string a = file("a.qor");
    ASSERT_EQ(run({"new", a}).rc, 0);
    Result r = run({"diff", a, copyData("no_config.qor")});
    EXPECT_EQ(r.rc, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Неизвестная конфигурация базы данных. Загрузка невозможна\n");
    r = run({"diff", copyData("ring_out_of_range.qor"), a});
    EXPECT_EQ(r.rc, 2);
    EXPECT_NE(r.err.find("NRingsToPickup"), std::string::npos) << r.err;
    r = run({"diff", a, file("missing.qor")});
    EXPECT_EQ(r.rc, 2);
    EXPECT_NE(r.err.find("missing.qor"), std::string::npos) << r.err;

    // Bad times load as defaults with a message: what can be compared is shown, but equal is not claimed.
    r = run({"diff", a, copyData("bad_time_and_date.qor")});
    EXPECT_EQ(r.rc, 2);
    EXPECT_NE(r.err.find("Недопустимый формат времени"), std::string::npos) << r.err;

    EXPECT_EQ(run({"diff", a}).rc, 2);
    EXPECT_EQ(run({"diff", a, a, a}).rc, 2);
    EXPECT_EQ(run({"diff", "--brief", a, a}).rc, 2);
    r = run({});
    EXPECT_NE(r.err.find("zirezid-cli diff FILE_A FILE_B"), std::string::npos);
}

TEST_F(Cli, PortsListsTheAdaptersAndCheckExitsZeroOnlyForAPortThatOpens) {
    port_test::FakeSystem sys;
    port_test::Pty pty;
    ASSERT_FALSE(pty.path.empty());
    const std::string byId = "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    sys.usbAdapter("ttyUSB0", "0403", "6001", "FTDI", "FT232R USB UART", "A50285BI", "ftdi_sio", pty.path, byId);
    // The window's choice of COM3, read from its preferences so that COM3 means the same adapter here.
    const fs::path config = dir / "config";
    fs::create_directories(config / "NORDAL");
    writeBytesTo((config / "NORDAL/ZIRezid.conf").string(), "[Ports]\nCOM3=/dev/serial/by-id/" + byId + "\n");
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);

    Result list = run({"ports", "--root", sys.root()});
    EXPECT_EQ(list.rc, 0) << list.err;
    EXPECT_NE(list.out.find("/dev/ttyUSB0 — FTDI FT232R USB UART (№ A50285BI) — COM3\n    /dev/serial/by-id/" + byId),
              std::string::npos)
        << list.out;

    Result free = run({"ports", "--root", sys.root(), "--check", "COM3"});
    EXPECT_EQ(free.rc, 0) << free.out;
    EXPECT_NE(free.out.find("/dev/ttyUSB0 свободен"), std::string::npos) << free.out;

    const int holder = ::open(pty.path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    Result busy = run({"ports", "--root", sys.root(), "--check", "ttyUSB0"});
    EXPECT_EQ(busy.rc, 1);
    EXPECT_NE(busy.out.find("занят"), std::string::npos) << busy.out;
    ::close(holder);

    Result missing = run({"ports", "--root", sys.root(), "--check", "/dev/ttyUSB7"});
    EXPECT_EQ(missing.rc, 1);
    EXPECT_NE(missing.out.find("/dev/ttyUSB7 сейчас нет"), std::string::npos) << missing.out;
    EXPECT_EQ(run({"ports", "--bogus"}).rc, 2);
    ::unsetenv("XDG_CONFIG_HOME");

    Result version = run({"--version"});
    EXPECT_EQ(version.rc, 0);
    EXPECT_EQ(version.out.rfind("zirezid-cli ", 0), 0u) << version.out;
}
