// The server transcript as a benchmark workload, and what a bench reads off the process around
// it (resident memory, the lines of a transcript, an engine fed with it).
//
// A transcript of N lines is generated once next to the bench program with bench/make_transcript.py
// (`make_transcript.py OUT --lines N`) and read from there afterwards. TESSEL_TRANSCRIPT, when
// set, names a file to use instead of the 100,000-line one.
#pragma once

#include <malloc.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "tessel_client/engine/engine.hpp"

namespace tessel::bench {

namespace fs = std::filesystem;

inline constexpr std::size_t kChunk = 4096;  // bytes per handle_bytes call, as a host reads them

inline std::optional<std::string> read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return std::nullopt;
    std::string text(static_cast<std::size_t>(in.tellg()), '\0');
    in.seekg(0);
    if (!in.read(text.data(), static_cast<std::streamsize>(text.size()))) return std::nullopt;
    return text;
}

inline std::optional<std::string> load_transcript(std::size_t lines, std::string& why) {
    if (const char* given = std::getenv("TESSEL_TRANSCRIPT"); given != nullptr && lines == 100000) {
        auto text = read_file(given);
        if (!text) why = std::string("cannot read TESSEL_TRANSCRIPT=") + given;
        return text;
    }
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    const std::string name = lines % 1000000 == 0 ? std::to_string(lines / 1000000) + "m"
                                                  : std::to_string(lines / 1000) + "k";
    fs::path path = (ec ? fs::current_path() : self.parent_path()) / ("transcript_" + name + ".txt");
    if (auto text = read_file(path)) return text;
    fs::path generator = fs::path(TESSEL_SOURCE_DIR) / "bench" / "make_transcript.py";
    std::string command = "/usr/bin/python3 '" + generator.string() + "' '" + path.string() + "' --lines " +
                          std::to_string(lines) + " 2>/dev/null";
    if (!fs::exists(generator) || std::system(command.c_str()) != 0) {
        why = "no transcript: set TESSEL_TRANSCRIPT or make " + generator.string() + " runnable";
        return std::nullopt;
    }
    auto text = read_file(path);
    if (!text) why = "generated transcript unreadable: " + path.string();
    return text;
}

// The transcript of `lines` lines, read once per process; null with `why` set when there is none.
inline const std::string* transcript(std::size_t lines, std::string& why) {
    struct Loaded {
        std::optional<std::string> text;
        std::string why;
    };
    static std::map<std::size_t, Loaded> loaded;
    auto it = loaded.find(lines);
    if (it == loaded.end()) {
        Loaded fresh;
        fresh.text = load_transcript(lines, fresh.why);
        it = loaded.emplace(lines, std::move(fresh)).first;
    }
    why = it->second.why;
    return it->second.text ? &*it->second.text : nullptr;
}

inline std::size_t count_lines(std::string_view text) {
    std::size_t lines = 0;
    for (const char* at = text.data(); const void* lf = std::memchr(at, '\n', text.data() + text.size() - at);
         at = static_cast<const char*>(lf) + 1)
        ++lines;
    return lines;
}

inline std::unique_ptr<Engine> connected_engine() {
    Config config;
    config.nick = "me";
    auto engine = std::make_unique<Engine>(config);
    engine->handle_connected();
    while (engine->poll_transmit()) {
    }
    return engine;
}

// Feeds the bytes in kChunk pieces, draining the outgoing lines and the events after each, as a
// host does; returns the events drained.
inline std::size_t feed(Engine& engine, std::string_view text) {
    std::size_t events = 0;
    for (std::size_t at = 0; at < text.size(); at += kChunk) {
        engine.handle_bytes(text.substr(at, kChunk));
        while (auto line = engine.poll_transmit()) {
        }
        events += engine.poll_events().size();
    }
    return events;
}

// Messages held by every log of the model.
inline std::size_t stored_messages(const Model& model) {
    std::size_t stored = 0;
    for (const auto& [key, channel] : model.channels) stored += channel.log.messages.size();
    for (const auto& [key, conversation] : model.conversations) stored += conversation.log.messages.size();
    return stored;
}

// Resident memory of the process in bytes: now, and the peak since the last reset_peak_rss.
inline std::uint64_t status_kib(std::string_view field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0) return std::strtoull(line.c_str() + field.size(), nullptr, 10);
    return 0;
}
inline std::uint64_t rss_bytes() { return status_kib("VmRSS:") * 1024; }
inline std::uint64_t peak_rss_bytes() { return status_kib("VmHWM:") * 1024; }
// Gives freed heap back first, so that the peak that follows counts only new growth.
inline void reset_peak_rss() {
    malloc_trim(0);
    std::ofstream("/proc/self/clear_refs") << "5";
}

inline double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace tessel::bench
