// A settings database built in the test's own folder, with helpers to set fields by their stored form and to
// put WAV files where a menu's recording belongs.
#pragma once

#include "flow/call_flow.h"
#include "model/tables.h"
#include "model/unit_config.h"
#include "tests/model/fake_host.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

namespace flowtest {

namespace fs = std::filesystem;

// A PCM WAV of the given length (silence with a little tone so it is not all zero).
inline void writeWav(const fs::path& path, double seconds, int rate = 8000, int bits = 16, int channels = 1,
                     int formatTag = 1) {
    fs::create_directories(path.parent_path());
    const std::uint32_t frames = static_cast<std::uint32_t>(seconds * rate);
    const std::uint32_t blockAlign = static_cast<std::uint32_t>(channels * bits / 8);
    const std::uint32_t dataBytes = frames * blockAlign;
    std::ofstream out(path, std::ios::binary);
    auto u32 = [&](std::uint32_t v) {
        out.put(char(v & 255)).put(char(v >> 8 & 255)).put(char(v >> 16 & 255)).put(char(v >> 24));
    };
    auto u16 = [&](std::uint32_t v) { out.put(char(v & 255)).put(char(v >> 8 & 255)); };
    out << "RIFF";
    u32(36 + dataBytes);
    out << "WAVEfmt ";
    u32(16);
    u16(static_cast<std::uint32_t>(formatTag));
    u16(static_cast<std::uint32_t>(channels));
    u32(static_cast<std::uint32_t>(rate));
    u32(static_cast<std::uint32_t>(rate) * blockAlign);
    u16(blockAlign);
    u16(static_cast<std::uint32_t>(bits));
    out << "data";
    u32(dataBytes);
    for (std::uint32_t i = 0; i < dataBytes; ++i)
        out.put(static_cast<char>(i % 7));
}

class FlowBase : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("zirezid-flow-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        ASSERT_TRUE(db.selectUnitConfig(29)); // QOR22: 2 lines, 50 menus, 2 mailboxes
        db.buildNewBase((dir / "site.qor").string());
        db.messagesFolder = messagesFolderFor(db.basePath);
    }
    void TearDown() override { fs::remove_all(dir); }

    // Sets a field by its stored form ("0103", "0830"); the model must take it.
    void set(const std::string& object, const std::string& key, const std::string& stored) {
        KT_TABLE* t = db.findObject(object);
        ASSERT_NE(t, nullptr) << object;
        KT_RECORD* r = t->findChild(key);
        ASSERT_NE(r, nullptr) << object << ' ' << key;
        ASSERT_TRUE(r->value->setText(stored)) << object << ' ' << key << '=' << stored;
    }
    void hide(const std::string& object) { db.findObject(object)->isVisible = false; }

    // Records a message for the menu: the file in the menu's folder and its name in "Message".
    void record(int menu, const std::string& file, double seconds) {
        const std::string object = "MENU(" + std::to_string(menu) + ")";
        writeWav(fs::path(menuMessageFolder(db.messagesFolder, *db.findObject(object))) / file, seconds);
        set(object, "Message", file);
    }
    fs::path messageFile(int menu, const std::string& file) {
        return fs::path(menuMessageFolder(db.messagesFolder, *db.findObject("MENU(" + std::to_string(menu) + ")"))) /
               file;
    }

    flow::CallFlow read(std::optional<unsigned long long> freeBytes = std::nullopt) {
        return flow::readCallFlow(db, freeBytes);
    }

    fake::Host host;
    fs::path dir;
    SettingsDatabase db;
};

} // namespace flowtest
