// This process's memory and writes as the kernel counts them: resident size
// now, its high-water mark since the last reset, and write calls so far.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>

namespace ostrakel::bench {

// The number after "field:" in a /proc file of this process; 0 when missing.
inline int64_t ProcField(const char* path, const std::string& field) {
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line))
        if (line.rfind(field + ":", 0) == 0) return std::stoll(line.substr(field.size() + 1));
    return 0;
}

// A line of /proc/self/status in KiB ("VmRSS", "VmHWM"); 0 when missing.
inline int64_t StatusKiB(const std::string& field) { return ProcField("/proc/self/status", field); }

// A line of /proc/self/io ("syscw": write calls made so far); 0 when missing.
inline int64_t IoCount(const std::string& field) { return ProcField("/proc/self/io", field); }

// Sets the high-water mark back to the resident size now (Linux 4.0 and later).
inline bool ResetPeak() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return static_cast<bool>(clear);
}

inline double MiB(int64_t kib) {
    return static_cast<double>(kib) / 1024.0;
}

} // namespace ostrakel::bench
