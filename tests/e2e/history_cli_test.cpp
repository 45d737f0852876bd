// The unit's history through zirezid-cli against unitsim: what a write destroys is kept and put back, a dry
// run sends nothing, changes made on the unit since the read are not written over silently, and a write whose
// history or pre-write read fails sends nothing at all.
#include "unit_fixture.h"

#include <cstdlib>
#include <map>

namespace {

struct CliResult {
    int status = -1;
    std::string out, err;
};

// Every regular file of a folder by its relative path, with its bytes.
std::map<std::string, std::string> filesOf(const fs::path& root) {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file())
            out[fs::relative(e.path(), root).string()] = readAllOf(e.path());
    return out;
}

// The ADPCM bytes of a recording as the unit keeps it (any bytes are valid codes; an even count survives the
// round trip through WAV whole).
std::string recording(std::size_t size, int seed) {
    std::string bytes(size, '\0');
    unsigned x = static_cast<unsigned>(seed) * 2654435761u + 1;
    for (auto& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<char>(x >> 16);
    }
    return bytes;
}

// The paths whose presence or bytes differ between two states of a folder: empty when they are the same.
std::string differences(const std::map<std::string, std::string>& a, const std::map<std::string, std::string>& b) {
    std::string out;
    for (const auto& [path, bytes] : a)
        if (!b.count(path))
            out += "only before: " + path + "\n";
        else if (b.at(path) != bytes)
            out += "changed: " + path + "\n";
    for (const auto& [path, bytes] : b)
        if (!a.count(path))
            out += "only after: " + path + "\n";
    return out;
}

} // namespace

class HistoryCli : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(dir.path() / "data");
        fs::create_directories(dir.path() / "config");
    }
    void startUnit(const std::vector<std::string>& extra = {}) {
        std::vector<std::string> args{"--state", unitDir().string(), "--link", port(), "--log", log().string()};
        args.insert(args.end(), extra.begin(), extra.end());
        unit = std::make_unique<unitsim_test::UnitsimProcess>(args);
        ASSERT_TRUE(unit->readLine().has_value());
    }
    // A message the unit holds before unitsim starts.
    void unitHolds(const std::string& menuFolder, const std::string& name, const std::string& bytes) {
        fs::create_directories(unitDir() / "messages" / menuFolder);
        std::ofstream(unitDir() / "messages" / menuFolder / name, std::ios::binary) << bytes;
    }
    fs::path unitDir() const { return dir.path() / "unit"; }
    fs::path log() const { return dir.path() / "unit.log"; }
    fs::path historyRoot() const { return dir.path() / "data" / "zirezid" / "units"; }
    std::string port() const { return (dir.path() / "tty").string(); }
    std::string file(const std::string& name) const { return (dir.path() / name).string(); }
    CliResult cli(const std::string& args, const std::string& prefix = {}) {
        const fs::path out = dir.path() / "cli.out", err = dir.path() / "cli.err";
        const std::string command = prefix + "XDG_DATA_HOME='" + (dir.path() / "data").string() +
                                    "' XDG_CONFIG_HOME='" + (dir.path() / "config").string() + "' " +
                                    std::string(ZIREZID_CLI) + " " + args + " >" + out.string() + " 2>" + err.string();
        const int st = std::system(command.c_str());
        CliResult r;
        r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
        r.out = readAllOf(out);
        r.err = readAllOf(err);
        return r;
    }
    // The commands the unit heard that change it.
    std::string changingCommands() const {
        const std::string all = readAllOf(log());
        std::string found;
        for (const char* c : {" seto ", " ul ", " del "})
            if (all.find(c) != std::string::npos)
                found += c;
        return found;
    }
    std::string unitField(const std::string& object, const std::string& key) const {
        const std::string text = readAllOf(unitDir() / "objects" / (object + ".txt"));
        const std::size_t at = text.find("\n" + key + "=");
        if (at == std::string::npos)
            return "?";
        const std::size_t start = at + key.size() + 2;
        return text.substr(start, text.find('\n', start) - start);
    }
    std::vector<std::string> snapshotNames() const {
        std::vector<std::string> names;
        if (!fs::exists(historyRoot()))
            return names;
        for (const auto& u : fs::directory_iterator(historyRoot()))
            for (const auto& s : fs::directory_iterator(u.path()))
                names.push_back(u.path().filename().string() + "/" + s.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    unitsim_test::TempDir dir;
    std::unique_ptr<unitsim_test::UnitsimProcess> unit;
};

TEST_F(HistoryCli, RestoreAfterAWritePutsTheUnitBackByteForByte) {
    unitHolds("50001", "old0.ktm", recording(3000, 1));
    unitHolds("50101", "old1.ktm", recording(1200, 2));
    startUnit({"--serial", "4242"});
    const auto before = filesOf(unitDir());

    ASSERT_EQ(cli("new " + file("site.qor")).status, 0);
    ASSERT_EQ(cli("set " + file("site.qor") + " SYSPARAM NRingsToPickup 6").status, 0);
    ASSERT_EQ(cli("set " + file("site.qor") + " 'MENU(0)' SLPIndex 2").status, 0);
    fs::create_directories(file("site.messages/50001"));
    writeWav(file("site.messages/50001/new.wav"), 8000, 4000);
    ASSERT_EQ(cli("set --stored " + file("site.qor") + " 'MENU(0)' Message new.wav").status, 0);
    // MENU(0)'s recording is replaced, MENU(1)'s deleted (the database names none).
    const CliResult w =
        cli("write --port " + port() + " --replace yes --objects SYSPARAM,'MENU(0)','MENU(1)' " + file("site.qor"));
    ASSERT_EQ(w.status, 0) << w.err;
    EXPECT_NE(w.out.find("SYSPARAM\tNRingsToPickup\t1\t6"), std::string::npos) << w.out;
    EXPECT_NE(w.out.find("MENU(0)\tMessage\told0.wav"), std::string::npos) << w.out;
    EXPECT_NE(w.out.find("MENU(1)\tMessage\told1.wav"), std::string::npos) << w.out;
    EXPECT_TRUE(fs::exists(unitDir() / "messages" / "50001" / "new.ktm"));
    EXPECT_FALSE(fs::exists(unitDir() / "messages" / "50101" / "old1.ktm"));
    EXPECT_NE(differences(before, filesOf(unitDir())), "");

    const CliResult h = cli("history --unit QOR22-4242");
    ASSERT_EQ(h.status, 0) << h.err;
    const auto afterAt = h.out.find("after-write"), beforeAt = h.out.find("before-write");
    ASSERT_NE(afterAt, std::string::npos) << h.out;
    ASSERT_NE(beforeAt, std::string::npos) << h.out;
    EXPECT_LT(afterAt, beforeAt) << "newest first:\n" << h.out;

    const CliResult r = cli("restore --port " + port());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(differences(before, filesOf(unitDir())), "") << r.out << r.err;
    // A restore is a write of its own: its snapshots are there.
    const auto names = snapshotNames();
    EXPECT_EQ(
        std::count_if(names.begin(), names.end(), [](const std::string& n) { return n.ends_with("-before-write"); }),
        2);
    EXPECT_EQ(cli("history --port " + port()).out, cli("history --unit QOR22-4242").out);
}

TEST_F(HistoryCli, DryRunReadsAndComparesButSendsNothing) {
    unitHolds("50001", "old0.ktm", recording(800, 3));
    startUnit();
    ASSERT_EQ(cli("new " + file("site.qor")).status, 0);
    ASSERT_EQ(cli("set " + file("site.qor") + " SYSPARAM NRingsToPickup 6").status, 0);
    CliResult d = cli("write --dry-run --port " + port() + " " + file("site.qor"));
    EXPECT_EQ(d.status, 1) << d.err;
    EXPECT_NE(d.out.find("SYSPARAM\tNRingsToPickup\t1\t6"), std::string::npos) << d.out;
    EXPECT_NE(d.out.find("MENU(0)\tMessage\told0.wav"), std::string::npos) << d.out;
    EXPECT_TRUE(unitsim_test::waitForText(log(), " geto 0 "));
    EXPECT_EQ(changingCommands(), "");
    EXPECT_EQ(unitField("SYSPARAM", "NRingsToPickup"), "1");

    // Once the unit matches, the dry run says so with status 0.
    ASSERT_EQ(cli("write --replace no --port " + port() + " --objects SYSPARAM " + file("site.qor")).status, 0);
    d = cli("write --dry-run --port " + port() + " --objects SYSPARAM " + file("site.qor"));
    EXPECT_EQ(d.status, 0) << d.out << d.err;
    EXPECT_EQ(cli("write --dry-run --conflicts sideways --port " + port() + " " + file("site.qor")).status, 2);
}

TEST_F(HistoryCli, ARecordingIsComparedAsTheUnitHoldsItNotByItsWavBytes) {
    startUnit();
    ASSERT_EQ(cli("new " + file("site.qor")).status, 0);
    fs::create_directories(file("site.messages/50001"));
    writeWav(file("site.messages/50001/hello.wav"), 8000, 6000);
    ASSERT_EQ(cli("set --stored " + file("site.qor") + " 'MENU(0)' Message hello.wav").status, 0);
    ASSERT_EQ(cli("write --port " + port() + " --objects 'MENU(0)' " + file("site.qor")).status, 0);
    const std::string onUnit = readAllOf(unitDir() / "messages" / "50001" / "hello.ktm");
    ASSERT_FALSE(onUnit.empty());

    // The unit holds what the technician's WAV becomes on it: nothing to write.
    CliResult d = cli("write --dry-run --port " + port() + " --objects 'MENU(0)' " + file("site.qor"));
    EXPECT_EQ(d.status, 0) << d.out << d.err;
    EXPECT_EQ(d.out.find("Message"), std::string::npos) << d.out;

    // Another recording under the same name is a replacement.
    writeWav(file("site.messages/50001/hello.wav"), 8000, 5000);
    d = cli("write --dry-run --port " + port() + " --objects 'MENU(0)' " + file("site.qor"));
    EXPECT_EQ(d.status, 1) << d.out << d.err;
    EXPECT_NE(d.out.find("MENU(0)\tMessage\thello.wav"), std::string::npos) << d.out;
    EXPECT_NE(d.out.find("сообщение будет заменено"), std::string::npos) << d.out;

    // Without the download the unit's recording cannot be compared, and the preview says so.
    fs::create_directories(dir.path() / "config" / "NORDAL");
    std::ofstream(dir.path() / "config" / "NORDAL" / "ZIRezid.conf") << "[History]\nDownloadMessages=false\n";
    d = cli("write --dry-run --port " + port() + " --objects 'MENU(0)' " + file("site.qor"));
    EXPECT_EQ(d.status, 1) << d.out << d.err;
    EXPECT_NE(d.out.find("неизвестно"), std::string::npos) << d.out;
    EXPECT_EQ(changingCommands(), " seto  ul ");
    EXPECT_EQ(readAllOf(unitDir() / "messages" / "50001" / "hello.ktm"), onUnit);
}

TEST_F(HistoryCli, AChangeOnTheUnitSinceTheReadIsAConflictNotOverwrittenSilently) {
    startUnit();
    ASSERT_EQ(cli("new " + file("site.qor")).status, 0);
    ASSERT_EQ(cli("read --port " + port() + " --objects SYSPARAM " + file("site.qor")).status, 0);
    // Someone else changes the unit: one field the database changes too, one it leaves alone.
    ASSERT_EQ(cli("new " + file("other.qor")).status, 0);
    ASSERT_EQ(cli("set " + file("other.qor") + " SYSPARAM NRingsToPickup 8").status, 0);
    ASSERT_EQ(cli("set " + file("other.qor") + " SYSPARAM PulseDialing 1").status, 0);
    ASSERT_EQ(cli("write --port " + port() + " --objects SYSPARAM " + file("other.qor")).status, 0);
    ASSERT_EQ(cli("set " + file("site.qor") + " SYSPARAM NRingsToPickup 6").status, 0);

    // A dry run reads the unit but puts nothing into the file, so it is no new starting point for the file: the
    // conflict is still one afterwards.
    CliResult w = cli("write --dry-run --port " + port() + " --objects SYSPARAM " + file("site.qor"));
    EXPECT_EQ(w.status, 1);
    EXPECT_NE(w.out.find("КОНФЛИКТ\tSYSPARAM\tNRingsToPickup\t8\t6"), std::string::npos) << w.out;
    w = cli("write --port " + port() + " --objects SYSPARAM " + file("site.qor"));
    EXPECT_EQ(w.status, 1);
    EXPECT_NE(w.out.find("КОНФЛИКТ\tSYSPARAM\tNRingsToPickup\t8\t6"), std::string::npos) << w.out;
    EXPECT_NE(w.err.find("--conflicts"), std::string::npos) << w.err;
    EXPECT_EQ(unitField("SYSPARAM", "NRingsToPickup"), "8");

    // The database's value wins when asked for; the field only the unit changed stays the unit's.
    w = cli("write --conflicts database --port " + port() + " --objects SYSPARAM " + file("site.qor"));
    EXPECT_EQ(w.status, 0) << w.err;
    EXPECT_NE(w.out.find("SYSPARAM\tPulseDialing\t1\t0\t(сохраняется)"), std::string::npos) << w.out;
    EXPECT_EQ(unitField("SYSPARAM", "NRingsToPickup"), "6");
    EXPECT_EQ(unitField("SYSPARAM", "PulseDialing"), "1");
    // The kept value lands in the file, so the next write of it does not send the file's old value back.
    EXPECT_NE(w.out.find("Значения устройства сохранены в файле " + file("site.qor")), std::string::npos) << w.out;
    EXPECT_EQ(cli("get " + file("site.qor") + " SYSPARAM PulseDialing").out, "1\n");
    ASSERT_EQ(cli("set " + file("site.qor") + " SYSPARAM NRingsToPickup 7").status, 0);
    w = cli("write --port " + port() + " --objects SYSPARAM " + file("site.qor"));
    EXPECT_EQ(w.status, 0) << w.err;
    EXPECT_EQ(w.out.find("PulseDialing"), std::string::npos) << w.out;
    EXPECT_EQ(unitField("SYSPARAM", "NRingsToPickup"), "7");
    EXPECT_EQ(unitField("SYSPARAM", "PulseDialing"), "1");
}

TEST_F(HistoryCli, ALineCutDuringThePreWriteReadSendsNothing) {
    unitHolds("50001", "old0.ktm", recording(20000, 4));
    startUnit({"--hangup-after", "3000"});
    ASSERT_EQ(cli("new " + file("site.qor")).status, 0);
    ASSERT_EQ(cli("set " + file("site.qor") + " SYSPARAM NRingsToPickup 6").status, 0);
    const CliResult w = cli("write --port " + port() + " --objects SYSPARAM,'MENU(0)' " + file("site.qor"));
    EXPECT_EQ(w.status, 1);
    // The line went while the recording the write would replace was being kept.
    EXPECT_NE(readAllOf(log()).find(" dl 50001 "), std::string::npos);
    EXPECT_EQ(changingCommands(), "");
    EXPECT_EQ(unitField("SYSPARAM", "NRingsToPickup"), "1");
    // Nothing half-written stays in the history.
    for (const auto& name : snapshotNames())
        EXPECT_EQ(name.find("/.part-"), std::string::npos) << name;
    EXPECT_EQ(cli("history --unit QOR22-100001").out, "");
}

TEST_F(HistoryCli, AHistoryFolderThatCannotTakeTheSnapshotRefusesTheWrite) {
    startUnit();
    ASSERT_EQ(cli("new " + file("site.qor")).status, 0);
    ASSERT_EQ(cli("set " + file("site.qor") + " SYSPARAM NRingsToPickup 6").status, 0);
    // A file where the history folder should be.
    std::ofstream(dir.path() / "data" / "zirezid") << "x";
    CliResult w = cli("write --port " + port() + " " + file("site.qor"));
    EXPECT_EQ(w.status, 1);
    EXPECT_NE(w.err.find((dir.path() / "data" / "zirezid" / "units").string()), std::string::npos) << w.err;
    EXPECT_EQ(changingCommands(), "");
    // A full disk (here a file-size limit) is refused the same way.
    fs::remove(dir.path() / "data" / "zirezid");
    w = cli("write --port " + port() + " " + file("site.qor"), "ulimit -f 2; ");
    EXPECT_EQ(w.status, 1);
    EXPECT_NE(w.err.find("zirezid/units"), std::string::npos) << w.err;
    EXPECT_EQ(changingCommands(), "");
    for (const auto& name : snapshotNames())
        EXPECT_EQ(name.find(".part-"), std::string::npos) << name;
    // The technician may write without history after saying so.
    std::ofstream(dir.path() / "config" / "NORDAL.conf");
    fs::create_directories(dir.path() / "config" / "NORDAL");
    std::ofstream(dir.path() / "config" / "NORDAL" / "ZIRezid.conf") << "[History]\nAllowWithoutHistory=true\n";
    fs::remove_all(dir.path() / "data");
    std::ofstream(dir.path() / "data") << "x";
    w = cli("write --without-history --port " + port() + " --objects SYSPARAM " + file("site.qor"));
    EXPECT_EQ(w.status, 0) << w.err;
    EXPECT_EQ(unitField("SYSPARAM", "NRingsToPickup"), "6");
}

TEST_F(HistoryCli, TheSizeLimitRemovesTheOldestButKeepsTheNewestBeforeWrite) {
    unitHolds("50001", "old0.ktm", recording(150000, 5)); // 600 KB as a WAV in each snapshot that holds it
    startUnit();
    fs::create_directories(dir.path() / "config" / "NORDAL");
    std::ofstream(dir.path() / "config" / "NORDAL" / "ZIRezid.conf") << "[History]\nSizeLimitMiB=1\n";
    ASSERT_EQ(cli("new " + file("site.qor")).status, 0);
    ASSERT_EQ(cli("set " + file("site.qor") + " SYSPARAM NRingsToPickup 6").status, 0);
    ASSERT_EQ(cli("write --replace no --port " + port() + " --objects SYSPARAM,'MENU(0)' " + file("site.qor")).status,
              0);
    const auto afterWrite = snapshotNames();
    ASSERT_EQ(afterWrite.size(), 2u);
    // The database names no recording for MENU(0): each dry run reports the deletion a write would make.
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(cli("write --dry-run --port " + port() + " --objects 'MENU(0)' " + file("site.qor")).status, 1);
    const auto names = snapshotNames();
    // The before-write stays (an undo needs it), the newest dry run's read too; the others went.
    ASSERT_EQ(names.size(), 2u) << names.size();
    EXPECT_EQ(names[0], afterWrite[0]);
    EXPECT_TRUE(names[0].ends_with("-before-write"));
    EXPECT_TRUE(names[1].ends_with("-read"));
}

TEST_F(HistoryCli, ALineCutDuringTheWriteIsSummedUpAndARestoreStillWorks) {
    startUnit({"--hangup-after", "4000", "--serial", "31"});
    const auto before = filesOf(unitDir());
    ASSERT_EQ(cli("new " + file("site.qor")).status, 0);
    ASSERT_EQ(cli("set " + file("site.qor") + " SYSPARAM NRingsToPickup 6").status, 0);
    ASSERT_EQ(cli("set " + file("site.qor") + " 'MENU(1)' SLPIndex 2").status, 0);
    fs::create_directories(file("site.messages/50001"));
    writeWav(file("site.messages/50001/long.wav"), 8000, 40000);
    ASSERT_EQ(cli("set --stored " + file("site.qor") + " 'MENU(0)' Message long.wav").status, 0);
    const CliResult w = cli("write --port " + port() + " --objects SYSPARAM,'MENU(0)','MENU(1)' " + file("site.qor"));
    EXPECT_EQ(w.status, 1);
    EXPECT_EQ(unitField("SYSPARAM", "NRingsToPickup"), "6");
    EXPECT_EQ(unitField("MENU(1)", "SLPIndex"), "0");
    // The after-write says which objects reached the unit before the line went.
    const CliResult h = cli("history --unit QOR22-31");
    const auto line = h.out.substr(0, h.out.find('\n'));
    EXPECT_NE(line.find("after-write"), std::string::npos) << h.out;
    EXPECT_NE(line.find("записано объектов: 2 из 3; не дошли до устройства: MENU(1)"), std::string::npos) << h.out;

    ASSERT_TRUE(unitsim_test::waitForText(log(), " ul 50001 "));
    const CliResult r = cli("restore --port " + port());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(differences(before, filesOf(unitDir())), "");
}

TEST_F(HistoryCli, ARestoreWithoutASnapshotAfterACutRestoreFinishesItInsteadOfUndoingIt) {
    unitHolds("50001", "old0.ktm", recording(20000, 7));
    unitHolds("50101", "old1.ktm", recording(1200, 8));
    startUnit({"--serial", "55"});
    const auto before = filesOf(unitDir());
    ASSERT_EQ(cli("new " + file("site.qor")).status, 0);
    ASSERT_EQ(cli("set " + file("site.qor") + " SYSPARAM NRingsToPickup 6").status, 0);
    fs::create_directories(file("site.messages/50001"));
    writeWav(file("site.messages/50001/new.wav"), 8000, 1000);
    ASSERT_EQ(cli("set --stored " + file("site.qor") + " 'MENU(0)' Message new.wav").status, 0);
    const std::string objects = " --objects SYSPARAM,'MENU(0)','MENU(1)' ";
    ASSERT_EQ(cli("write --replace yes --port " + port() + objects + file("site.qor")).status, 0);

    // The line goes while the restore sends MENU(0)'s old recording back: MENU(1) is not reached.
    unit.reset();
    startUnit({"--serial", "55", "--hangup-after", "3000"});
    CliResult r = cli("restore --port " + port());
    EXPECT_EQ(r.status, 1) << r.err;
    ASSERT_TRUE(unitsim_test::waitForText(log(), " ul 50001 "));
    EXPECT_EQ(unitField("SYSPARAM", "NRingsToPickup"), "1");
    EXPECT_FALSE(fs::exists(unitDir() / "messages" / "50101" / "old1.ktm"));

    unit.reset();
    startUnit({"--serial", "55"});
    r = cli("restore --port " + port());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("не дошло до конца"), std::string::npos) << r.err;
    EXPECT_EQ(differences(before, filesOf(unitDir())), "") << r.out << r.err;
    // That restore went through whole: the next one undoes it like any write, it does not finish it again.
    r = cli("restore --port " + port());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("не дошло до конца"), std::string::npos) << r.err;
    EXPECT_NE(differences(before, filesOf(unitDir())), "");
}

TEST_F(HistoryCli, ADamagedSnapshotIsNeverWrittenToTheUnit) {
    unitHolds("50001", "old0.ktm", recording(800, 6));
    startUnit({"--serial", "77"});
    ASSERT_EQ(cli("new " + file("site.qor")).status, 0);
    ASSERT_EQ(cli("set " + file("site.qor") + " SYSPARAM NRingsToPickup 6").status, 0);
    ASSERT_EQ(cli("write --replace no --port " + port() + " --objects SYSPARAM,'MENU(0)' " + file("site.qor")).status,
              0);
    const auto unitFolder = historyRoot() / "QOR22-77";
    fs::path before;
    for (const auto& e : fs::directory_iterator(unitFolder))
        if (e.path().filename().string().ends_with("-before-write"))
            before = e.path();
    ASSERT_FALSE(before.empty());
    const auto afterWrite = filesOf(unitDir());
    fs::remove_all(log());

    // The recording it names is gone: refused before anything is sent.
    fs::remove(before / "unit.messages" / "50001" / "old0.wav");
    CliResult r = cli("restore --port " + port());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("old0.wav"), std::string::npos) << r.err;
    // A settings file spoilt by hand: the usual message, nothing sent.
    std::ofstream(before / "unit.qor") << "[DEVICEINFO]\r\nConfigID=12345\r\n";
    r = cli("restore --port " + port() + " " + before.filename().string());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Неизвестная конфигурация"), std::string::npos) << r.err;
    EXPECT_EQ(changingCommands(), "");
    EXPECT_EQ(differences(afterWrite, filesOf(unitDir())), "");
    EXPECT_EQ(cli("restore --port " + port() + " no-such-snapshot").status, 1);
}
