// A device link and a settings database against the real unitsim program.
#pragma once

#include <gtest/gtest.h>

#include "link/device_link.h"
#include "model/tables.h"
#include "model/unit_config.h"
#include "serial/comm.h"
#include "serial/main_thread.h"
#include "tests/link/recording_ui.h"
#include "tests/support/unitsim_process.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;

// A 16-bit mono PCM WAV of a rising tone.
inline void writeWav(const std::string& path, int rate, int samples) {
    std::ofstream out(path, std::ios::binary);
    auto u32 = [&](std::uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](std::uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    out << "RIFF";
    u32(36 + 2 * static_cast<std::uint32_t>(samples));
    out << "WAVEfmt ";
    u32(16);
    u16(1);
    u16(1);
    u32(static_cast<std::uint32_t>(rate));
    u32(static_cast<std::uint32_t>(rate) * 2);
    u16(2);
    u16(16);
    out << "data";
    u32(2 * static_cast<std::uint32_t>(samples));
    for (int i = 0; i < samples; ++i)
        u16(static_cast<std::uint16_t>(static_cast<std::int16_t>(((i * 37) % 2000 - 1000) * 8)));
}

inline std::string readAllOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Every object the tree shows without children of its own, in tree order.
inline void leafObjects(KT_TABLE& table, std::vector<std::pair<std::string, KT_TABLE*>>& out) {
    for (auto& child : table.children) {
        KT_TABLE* sub = child.second->table();
        if (!sub || !sub->isVisible || !isTreeTable(*sub))
            continue;
        bool hasTreeChildren = false;
        for (auto& grand : sub->children)
            if (KT_TABLE* g = grand.second->table(); g && g->isVisible && isTreeTable(*g))
                hasTreeChildren = true;
        if (!hasTreeChildren)
            out.emplace_back(sub->getDescription(), sub);
        leafObjects(*sub, out);
    }
}

class UnitTest : public ::testing::Test {
protected:
    // Starts unitsim with the options and a database of the matching type; false when unitsim does not start.
    void start(const std::vector<std::string>& options, int configId = 29) {
        std::vector<std::string> args{"--state", (dir.path() / "unit").string(), "--once"};
        args.insert(args.end(), options.begin(), options.end());
        unit = std::make_unique<unitsim_test::UnitsimProcess>(args);
        auto line = unit->readLine();
        ASSERT_TRUE(line.has_value());
        slavePath = *line;
        serial::SetMainThreadHost(&queue);
        ui = std::make_unique<RecordingUi>(queue);
        db = newDatabase("site", configId);
        link = std::make_unique<devlink::DeviceLink>(*ui);
        link->devicePath = slavePath;
        link->database = db.get();
        fs::create_directories(dir.path() / "scratch");
        link->tempFolder = (dir.path() / "scratch").string() + "/";
    }
    std::unique_ptr<SettingsDatabase> newDatabase(const std::string& name, int configId) {
        auto d = std::make_unique<SettingsDatabase>();
        d->selectUnitConfig(configId);
        d->buildNewBase((dir.path() / (name + ".qor")).string());
        d->messagesFolder = messagesFolderFor(d->basePath);
        fs::create_directories(d->messagesFolder);
        return d;
    }
    void TearDown() override {
        if (link)
            link->closeSession();
        link.reset();
        queue.ProcessEvents(0);
        serial::SetMainThreadHost(nullptr);
        unit.reset();
    }
    fs::path unitMessages(const std::string& menuCode) const {
        return dir.path() / "unit" / "messages" / (menuCode + "01");
    }

    unitsim_test::TempDir dir;
    std::unique_ptr<unitsim_test::UnitsimProcess> unit;
    std::string slavePath;
    serial::TVaEventQueue queue;
    std::unique_ptr<RecordingUi> ui;
    std::unique_ptr<SettingsDatabase> db;
    std::unique_ptr<devlink::DeviceLink> link;
};
