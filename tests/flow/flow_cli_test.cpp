// The real zirezid-cli's lint, call and flow on settings files it made itself.
#include "model/atomic_file.h"
#include "tests/flow/flow_fixture.h"
#include "tests/support/wav_bytes.h"

#include <algorithm>
#include <cmath>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;
namespace fs = std::filesystem;

namespace {

struct Result {
    int rc = -1;
    std::string out, err;
};

class FlowCli : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("zirezid-flowcli-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        site = (dir / "site.qor").string();
        ASSERT_EQ(run({"new", "--type", "QOR22", site}).rc, 0);
    }
    void TearDown() override { fs::remove_all(dir); }

    Result run(std::vector<std::string> args) {
        args.insert(args.begin(), {"/usr/bin/timeout", "-s", "KILL", "30", ZIREZID_CLI});
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const std::string outPath = (dir / "stdout").string(), errPath = (dir / "stderr").string();
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
        atomic_file::readAll(outPath, r.out);
        atomic_file::readAll(errPath, r.err);
        return r;
    }
    void set(const std::string& object, const std::string& key, const std::string& stored) {
        const Result r = run({"set", "--stored", site, object, key, stored});
        ASSERT_EQ(r.rc, 0) << object << ' ' << key << ' ' << r.err;
    }

    fs::path dir;
    std::string site;
};

TEST_F(FlowCli, LintPrintsGradeObjectKeyAndTextAndFailsOnErrors) {
    set("SYSPARAM", "Password", "5555");
    set("MENU(0)", "ActionTO", "02002000");
    flowtest::writeWav(dir / "site.messages" / "50001" / "hello.wav", 1.0);
    set("MENU(0)", "Message", "hello.wav");
    Result r = run({"lint", site});
    EXPECT_EQ(r.rc, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("ошибок: 0"), std::string::npos);

    set("MENU(0)", "ActionDTMF[4]", "0177");
    r = run({"lint", site});
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.out.substr(0, r.out.find('\t', r.out.find('\t', r.out.find('\t') + 1) + 1)),
              "ошибка\tMENU(0)\tActionDTMF[4]");
    EXPECT_NE(r.out.find("меню 77 нет"), std::string::npos);

    // The free memory of the unit, as the last device information said.
    set("MENU(0)", "ActionDTMF[4]", "00");
    r = run({"lint", "--free-bytes", "3000", site});
    EXPECT_EQ(r.rc, 0);
    EXPECT_NE(r.out.find("предупреждение\tDEVICEINFO\tFreeSpaceBytes\t"), std::string::npos);

    EXPECT_EQ(run({"lint"}).rc, 2);
    EXPECT_EQ(run({"lint", "--free-bytes", "lots", site}).rc, 2);
    EXPECT_EQ(run({"lint", (dir / "missing.qor").string()}).rc, 2);
}

// A 997 Hz tone of the given amplitude (1.0 = full scale) at 8000 samples a second, clipped where it goes
// beyond full scale, as a 16-bit PCM WAV.
void writeTone(const fs::path& path, double amplitude, double seconds) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << testwav::pcm16Mono(static_cast<int>(seconds * 8000), [amplitude](int i) {
        return std::round(32767 * std::clamp(amplitude * std::sin(2 * M_PI * 997 * i / 8000.0), -1.0, 1.0));
    });
}

TEST_F(FlowCli, LintMeasuresTheRecordingsAndWarnsOfUnevenLoudnessAndClipping) {
    set("SYSPARAM", "Password", "5555");
    set("MENU(0)", "ActionTO", "0101");
    set("MENU(1)", "ActionTO", "02002000");
    // Menu 0 a hard-clipped tone (true peak about +1 dBTP), menu 1 a tone 34 dB below full scale.
    writeTone(dir / "site.messages" / "50001" / "loud.wav", 2.0, 3.0);
    writeTone(dir / "site.messages" / "50101" / "quiet.wav", 0.02, 3.0);
    set("MENU(0)", "Message", "loud.wav");
    set("MENU(1)", "Message", "quiet.wav");
    const Result r = run({"lint", site});
    EXPECT_EQ(r.rc, 0) << r.out << r.err; // warnings do not refuse
    EXPECT_NE(r.out.find("предупреждение\tMENU(0)\tMessage\tМеню 0: сообщение перегружено"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("предупреждение\tMENU(1)\tMessage\tМеню 1: сообщение тише сообщения меню 0"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.err.find("предупреждений: 2"), std::string::npos) << r.err;
}

TEST_F(FlowCli, CallPrintsTheWalkAndAnswersWhetherItEndsSomewhere) {
    set("TRK(2)", "NightMenu", "3");
    set("TIMETABLE", "DayStart[2]", "0900");
    set("TIMETABLE", "DayEnd[2]", "1800");
    set("MENU(0)", "ActionDTMF[1]", "0101");
    set("MENU(1)", "ActionDTMF[2]", "02022005");
    set("MENU(5)", "ActionTO", "0301");
    set("MENU(3)", "ActionTO", "0103");
    Result r = run({"call", site, "--line", "2", "--at", "2026-12-08 10:00", "--digits", "1,2"});
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(r.out, "линия 2, 2026-12-08 10:00 (день): отвечает меню 0\n"
                     "меню 0: сообщения нет (тишина)\n"
                     "  1: переход в меню 1\n"
                     "меню 1: сообщения нет (тишина)\n"
                     "  2: Вызов переведён на оператора линии 2, ждать 20 с, затем меню 5\n"
                     "итог: Вызов переведён на оператора линии 2, ждать 20 с, затем меню 5\n");
    r = run({"call", site, "--line", "2", "--at", "2026-12-08 10:00", "--digits", "1,2,N"});
    EXPECT_EQ(r.rc, 0);
    EXPECT_NE(r.out.find("итог: Сообщение в ящик 2\n"), std::string::npos);
    // By night line 2 answers with menu 3, whose time-out repeats it for ever.
    r = run({"call", site, "--line", "2", "--at", "2026-12-08 19:00"});
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(r.out.find("по кругу"), std::string::npos);

    EXPECT_EQ(run({"call", site}).rc, 2);
    EXPECT_EQ(run({"call", site, "--line", "1", "--at", "2026-13-01 10:00"}).rc, 2);
    EXPECT_EQ(run({"call", site, "--line", "1", "--digits", "1,X"}).rc, 2);
    EXPECT_EQ(run({"call", site, "--line", "3", "--at", "2026-12-08 10:00"}).rc, 1);
}

TEST_F(FlowCli, FlowWritesSvgPngAndPdf) {
    set("MENU(0)", "ActionDTMF[1]", "0101");
    for (const char* name : {"flow.svg", "flow.png", "flow.pdf"}) {
        const std::string out = (dir / name).string();
        const Result r = run({"flow", site, "-o", out});
        ASSERT_EQ(r.rc, 0) << name << r.err;
        std::string bytes;
        ASSERT_TRUE(atomic_file::readAll(out, bytes));
        EXPECT_GT(bytes.size(), 100u) << name;
    }
    std::string svg;
    atomic_file::readAll((dir / "flow.svg").string(), svg);
    EXPECT_NE(svg.find("id=\"menu_1\""), std::string::npos);
    // Out of time: the list instead, with a word why.
    const Result slow = run({"flow", site, "-o", (dir / "list.svg").string(), "--layout-timeout", "0"});
    EXPECT_EQ(slow.rc, 0);
    EXPECT_NE(slow.err.find("список"), std::string::npos);
    EXPECT_EQ(run({"flow", site, "-o", (dir / "flow.gif").string()}).rc, 2);
    EXPECT_FALSE(fs::exists(dir / "flow.gif"));
}

} // namespace

namespace {

// Runs a tool from the system and gives its standard output.
std::string toolOutput(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buf[4096];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;)
            out.append(buf, n);
        ::pclose(p);
    }
    return out;
}

// pdftotext breaks table cells over lines: compare with every run of white space as one blank.
std::string flat(const std::string& text) {
    std::string r;
    for (char ch : text) {
        const bool space = ch == '\n' || ch == ' ' || ch == '\t' || ch == '\f';
        if (space && (r.empty() || r.back() == ' '))
            continue;
        r += space ? ' ' : ch;
    }
    return r;
}

TEST_F(FlowCli, TheSiteReportHasEveryCaptionThePictureAndNoPasswords) {
#ifndef ZIREZID_HAVE_REPORT
    GTEST_SKIP() << "built without the Qt shell: zirezid-cli has no report command";
#endif
    if (std::system("command -v pdftotext >/dev/null && command -v pdftoppm >/dev/null") != 0)
        GTEST_SKIP() << "poppler-utils are not installed (scripts/setup-deps.sh installs them)";
    set("SYSPARAM", "Password", "5555");
    set("MAILBOX(1)", "Password", "4321");
    set("MENU(0)", "Desc", "'Приёмная'");
    set("MENU(0)", "ActionDTMF[1]", "0102");
    set("MENU(2)", "ActionTO", "0300");
    set("TIMETABLE", "UseHoliday[0]", "1");
    set("TIMETABLE", "HolidayStart[0]", "3012");
    set("TIMETABLE", "HolidayEnd[0]", "0801");
    flowtest::writeWav(dir / "site.messages" / "50001" / "hello.wav", 2.0);
    set("MENU(0)", "Message", "hello.wav");
    const std::string pdf = (dir / "site.pdf").string();
    const Result r = run({"report", site, "-o", pdf});
    ASSERT_EQ(r.rc, 0) << r.err;
    const std::string text = flat(toolOutput("pdftotext -enc UTF-8 '" + pdf + "' -"));
    for (const char* caption : {"Отчёт о настройке устройства",
                                "Тип устройства и данные о системе",
                                "QOR22",
                                "Расписание работы",
                                "Рабочие часы",
                                "Праздники",
                                "Праздник[0]: с 30.12 по 08.01",
                                "Схема вызова",
                                "Результаты проверки",
                                "Все настройки",
                                "системные параметры",
                                "линия 1",
                                "линия 2",
                                "оператор 1",
                                "оператор 2",
                                "расписание работы",
                                "меню 0 : Приёмная",
                                "меню 2",
                                "ящик 1",
                                "ящик 2",
                                "Серийный номер устройства",
                                "Число звонков до ответа на вызов",
                                "Дневное меню",
                                "Пароль ящика",
                                "hello.wav",
                                "2,0 с",
                                "Оставить сообщение"})
        EXPECT_NE(text.find(caption), std::string::npos) << caption;
    EXPECT_EQ(text.find("5555"), std::string::npos);
    EXPECT_EQ(text.find("4321"), std::string::npos);
    // The one version the programs answer --version with.
    const Result version = run({"--version"});
    ASSERT_EQ(version.out.rfind("zirezid-cli ", 0), 0u) << version.out;
    const std::string number = version.out.substr(12, version.out.find('\n') - 12);
    ASSERT_FALSE(number.empty());
    EXPECT_NE(text.find("программа ZIRezid " + number), std::string::npos) << text.substr(0, 300);
    // Untouched menus are summed up, not printed fifty times.
    EXPECT_EQ(text.find("меню 37"), std::string::npos);
    // The pages render.
    const std::string png = (dir / "page").string();
    ASSERT_EQ(std::system(("pdftoppm -r 40 -png -f 1 -l 1 '" + pdf + "' '" + png + "'").c_str()), 0);
    bool page = false;
    for (const auto& e : fs::directory_iterator(dir))
        page = page || (e.path().filename().string().rfind("page", 0) == 0 && e.file_size() > 1000);
    EXPECT_TRUE(page);

    EXPECT_EQ(run({"report", site, "-o", (dir / "site.txt").string()}).rc, 2);
    EXPECT_EQ(run({"report", (dir / "none.qor").string(), "-o", pdf}).rc, 2);
}

TEST_F(FlowCli, TheSiteReportCarriesTheLoudnessFindingsOfTheRecordings) {
#ifndef ZIREZID_HAVE_REPORT
    GTEST_SKIP() << "built without the Qt shell: zirezid-cli has no report command";
#endif
    if (std::system("command -v pdftotext >/dev/null") != 0)
        GTEST_SKIP() << "poppler-utils are not installed (scripts/setup-deps.sh installs them)";
    set("MENU(0)", "ActionTO", "0101");
    set("MENU(1)", "ActionTO", "02002000");
    writeTone(dir / "site.messages" / "50001" / "loud.wav", 2.0, 3.0);
    writeTone(dir / "site.messages" / "50101" / "quiet.wav", 0.02, 3.0);
    set("MENU(0)", "Message", "loud.wav");
    set("MENU(1)", "Message", "quiet.wav");
    const std::string pdf = (dir / "site.pdf").string();
    const Result r = run({"report", site, "-o", pdf});
    ASSERT_EQ(r.rc, 0) << r.err;
    const std::string text = flat(toolOutput("pdftotext -enc UTF-8 '" + pdf + "' -"));
    EXPECT_NE(text.find("Меню 0: сообщение перегружено"), std::string::npos) << text;
    EXPECT_NE(text.find("Меню 1: сообщение тише сообщения меню 0"), std::string::npos) << text;
}

} // namespace
