// The history window over two days of made-up traffic with a daily rhythm
// and an evening when nothing was recorded, rendered to tray-history.png in
// `directory`. For tray-screenshots; needs a QApplication.
#pragma once

#include <filesystem>

namespace bcn::tray::testing {

bool saveHistoryScreenshot(const std::filesystem::path& directory);

}  // namespace bcn::tray::testing
