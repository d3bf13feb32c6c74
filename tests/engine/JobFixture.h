// A print engine on a recording printer, with the real scheme store over a
// registry in memory: jobs are written to a file and printed whole.
#pragma once

#include "../support/MemoryRegistry.h"
#include "../support/TempDir.h"
#include "RecordingPrinter.h"
#include "engine/PrintEngine.h"
#include "schemes/SchemeStore.h"

#include <gtest/gtest.h>

namespace marlix::test {

inline const std::string kRoot(kSettingsKey);

class InterpreterTest : public ::testing::Test {
protected:
    void SetUp() override {
        store.CheckSequencesRegistry();
        engine.sequences = &store;
        engine.settings.topMargin = engine.settings.bottomMargin = 10;
        engine.settings.leftMargin = engine.settings.rightMargin = 10;
        engine.settings.defaultFont = false;
        engine.settings.cpi = 10;
        engine.settings.lpi = 6;
    }
    void scheme(const std::string& name) {
        registry.openKey(kRoot, true)->writeString("Sequence", name);
    }
    void set(const std::string& command, const std::string& notation) {
        registry.openKey(SchemeStore::schemeKey(store.activeScheme()), true)
            ->writeString(command, notation);
    }
    void print(std::string_view bytes) { engine.PrintOut(dir.write("job", bytes)); }
    const std::vector<DrawnChar>& chars(std::size_t doc = 0, std::size_t page = 0) {
        return printer.docs.at(doc).pages.at(page).chars;
    }
    std::string text() { return printer.pageTexts().at(0); }

    TempDir dir;
    MemoryRegistry registry;
    SchemeStore store{registry};
    RecordingPrinter printer;
    PrintEngine engine{printer};
};

} // namespace marlix::test
