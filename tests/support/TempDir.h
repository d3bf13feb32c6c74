// A scratch folder per test, removed afterwards.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unistd.h>

namespace marlix::test {

class TempDir {
public:
    // A new folder every time: a run that was killed leaves its folder, and a
    // later process of the same number must not find its files there.
    TempDir() {
        std::string name = (std::filesystem::temp_directory_path() / "marlix-test-XXXXXX").string();
        if (!::mkdtemp(name.data())) throw std::runtime_error("cannot make a folder for a test");
        path_ = name;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }

    std::string write(const std::string& name, std::string_view bytes) const {
        auto p = path_ / name;
        std::ofstream(p, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
        return p.string();
    }

private:
    std::filesystem::path path_;
};

// A file's bytes; none when it can't be read.
inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

} // namespace marlix::test
