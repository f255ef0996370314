// The lists' manifest as text, from one table of its keys, and the hashes
// it holds (XXH3-64 from libxxhash; a file is read in blocks so that a large
// set is never held twice).
#include "manifest.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xxhash.h>
#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "arguments.h"
#include "samples.h"
#include "text.h"

namespace {

constexpr std::string_view kHeading = "# digit-tools classify lists\n";
constexpr std::string_view kListPrefix = "list-", kListSuffix = "-xxh3";

// When a manifest holds a key: always, with one kernel only, when it was
// made late enough to record it, with a margin above 0 (none means 0), or
// when the training order was shuffled.
enum class Need { always, gaussian, polynomial, optional, margin, shuffled };

// One key of the manifest: when it is there, how its value is written, and
// how it is read (false for a value it cannot take).
struct Field {
    std::string_view key;
    Need need;
    std::string (*write)(const Manifest&);
    bool (*read)(std::string_view value, Manifest& manifest);
};

std::string hex(uint64_t value) { return printed("%016llx", static_cast<unsigned long long>(value)); }

bool read_hex(std::string_view text, uint64_t& value) { return text.size() == 16 && parse_whole(text, value, 16); }

std::string write_parameter(const Manifest& manifest) {
    std::string text;
    append_float(text, manifest.kernel.parameter);
    return text;
}

bool read_parameter(std::string_view value, Manifest& manifest) {
    return parse_float(value, manifest.kernel.parameter);
}

// Every key but the list hashes, in the order they are written; the kernel
// first, since what follows it depends on it.
const std::array<Field, 10> kFields = {{
    {"kernel", Need::always, [](const Manifest& m) { return std::string(kernel_name(m.kernel.kind)); },
     [](std::string_view value, Manifest& m) {
         const programma::Result<programma::KernelKind> kind = programma::parse_kernel(value);
         if (kind) m.kernel.kind = kind.value();
         return kind.ok();
     }},
    {"constant", Need::gaussian, write_parameter, read_parameter},
    {"degree", Need::polynomial, write_parameter, read_parameter},
    {"epochs", Need::always, [](const Manifest& m) { return std::to_string(m.epochs); },
     [](std::string_view value, Manifest& m) { return parse_whole(value, m.epochs); }},
    {"margin", Need::margin,
     [](const Manifest& m) {
         std::string text;
         append_float(text, m.margin);
         return text;
     },
     [](std::string_view value, Manifest& m) {
         return parse_float(value, m.margin) && std::isfinite(m.margin) && m.margin >= 0.0f;
     }},
    {"shuffle", Need::shuffled, [](const Manifest& m) { return std::to_string(m.shuffle.value_or(0)); },
     [](std::string_view value, Manifest& m) {
         uint64_t seed = 0;
         if (!parse_whole(value, seed)) return false;
         m.shuffle = seed;
         return true;
     }},
    {"training-rows", Need::always, [](const Manifest& m) { return std::to_string(m.rows); },
     [](std::string_view value, Manifest& m) { return parse_whole(value, m.rows); }},
    {"training-columns", Need::always, [](const Manifest& m) { return std::to_string(m.columns); },
     [](std::string_view value, Manifest& m) { return parse_whole(value, m.columns); }},
    {"training-xxh3", Need::always, [](const Manifest& m) { return hex(m.hash); },
     [](std::string_view value, Manifest& m) { return read_hex(value, m.hash); }},
    {"labels", Need::optional,
     [](const Manifest& m) {
         std::string text;
         for (const float label : m.labels) {
             if (!text.empty()) text += ' ';
             text += label_text(label);
         }
         return text;
     },
     [](std::string_view value, Manifest& m) {
         m.labels.clear();
         const bool read = for_each_item(value, ' ', [&](std::string_view item) {
             float label = 0;
             if (!parse_label(item, label) || (!m.labels.empty() && label <= m.labels.back())) return false;
             m.labels.push_back(label);
             return true;
         });
         return read && m.labels.size() >= 2;
     }},
}};

bool applies(Need need, const Manifest& manifest) {
    switch (need) {
        case Need::always:
        case Need::optional:
        case Need::margin:
        case Need::shuffled: return true;
        case Need::gaussian: return manifest.kernel.kind == programma::KernelKind::gaussian;
        case Need::polynomial: return manifest.kernel.kind == programma::KernelKind::polynomial;
    }
    return false;
}

std::string list_key(float label) { return std::string(kListPrefix) + label_text(label) + std::string(kListSuffix); }

bool is_list_key(std::string_view key) {
    return key.size() > kListPrefix.size() + kListSuffix.size() && key.starts_with(kListPrefix) &&
           key.ends_with(kListSuffix);
}

// A key's value and line.
struct Line {
    std::string value;
    uint64_t number = 0;
};

// The key/value lines; false on a line that is not a known key given once
// with a value.
bool read_lines(std::string_view text, std::map<std::string, Line>& lines, std::string& problem) {
    bool ok = true;
    for_each_text_line(text, [&](std::string_view line, unsigned long long number) {
        if (!ok || line.empty() || line.front() == '#') return;
        const std::size_t blank = line.find(' ');
        const std::string key(line.substr(0, blank));
        const std::string value(blank == std::string_view::npos ? "" : line.substr(blank + 1));
        const bool known = is_list_key(key) ||
                           std::any_of(kFields.begin(), kFields.end(), [&](const Field& f) { return f.key == key; });
        if (!known || value.empty() || lines.count(key) != 0) {
            problem = "line " + std::to_string(number) + " is not a known setting given once";
            ok = false;
            return;
        }
        lines[key] = {value, number};
    });
    return ok;
}

// Reads the table's keys from the lines, removing each one read.
bool read_fields(std::map<std::string, Line>& lines, Manifest& manifest, std::string& problem) {
    for (const Field& field : kFields) {
        const std::string key(field.key);
        const auto line = lines.find(key);
        if (line == lines.end()) {
            if (field.need == Need::optional || field.need == Need::margin || field.need == Need::shuffled ||
                !applies(field.need, manifest)) {
                continue;
            }
            problem = "no " + key;
            return false;
        }
        const std::string where = "line " + std::to_string(line->second.number) + ": ";
        if (!applies(field.need, manifest)) {
            problem = where + "the kernel " + kernel_name(manifest.kernel.kind) + " has no " + key;
            return false;
        }
        if (!field.read(line->second.value, manifest)) {
            problem = where + "'" + line->second.value + "' is not a value of " + key;
            return false;
        }
        manifest.lines[key] = line->second.number;
        lines.erase(line);
    }
    return true;
}

// The list hashes left in the lines: none, or one for each label.
bool read_list_hashes(std::map<std::string, Line>& lines, Manifest& manifest, std::string& problem) {
    if (lines.empty()) return true;
    for (const float label : manifest.labels) {
        const auto line = lines.find(list_key(label));
        if (line == lines.end()) {
            problem = "no " + list_key(label) + " (a manifest hashes every list or none)";
            return false;
        }
        uint64_t hash = 0;
        if (!read_hex(line->second.value, hash)) {
            problem = "line " + std::to_string(line->second.number) + ": '" + line->second.value +
                      "' is not a value of " + line->first;
            return false;
        }
        manifest.list_hashes.push_back(hash);
        manifest.lines[line->first] = line->second.number;
        lines.erase(line);
    }
    if (!lines.empty()) {
        problem = "line " + std::to_string(lines.begin()->second.number) + ": " + lines.begin()->first +
                  " hashes the list of no label the manifest names";
        return false;
    }
    return true;
}

bool same_state(const struct stat& info, const VouchedFile& file) {
    return info.st_dev == file.device && info.st_ino == file.inode && info.st_size == file.size &&
           info.st_mtim.tv_sec == file.modified.tv_sec && info.st_mtim.tv_nsec == file.modified.tv_nsec;
}

void record_state(const struct stat& info, VouchedFile& file) {
    file.device = info.st_dev;
    file.inode = info.st_ino;
    file.size = info.st_size;
    file.modified = info.st_mtim;
}

}  // namespace

bool Manifest::operator==(const Manifest& other) const {
    return kernel.kind == other.kernel.kind &&
           std::bit_cast<uint32_t>(kernel.parameter) == std::bit_cast<uint32_t>(other.kernel.parameter) &&
           epochs == other.epochs && margin == other.margin && rows == other.rows && columns == other.columns &&
           hash == other.hash && shuffle == other.shuffle && labels == other.labels && list_hashes == other.list_hashes;
}

std::string format_manifest(const Manifest& manifest) {
    std::string text(kHeading);
    for (const Field& field : kFields) {
        const bool written = (field.need != Need::margin || manifest.margin > 0.0f) &&
                             (field.need != Need::shuffled || manifest.shuffle.has_value());
        if (written && applies(field.need, manifest)) {
            text += std::string(field.key) + " " + field.write(manifest) + "\n";
        }
    }
    for (std::size_t i = 0; i < manifest.list_hashes.size(); ++i) {
        text += list_key(manifest.labels[i]) + " " + hex(manifest.list_hashes[i]) + "\n";
    }
    return text;
}

std::optional<Manifest> parse_manifest(std::string_view text, std::string& problem) {
    std::map<std::string, Line> lines;
    Manifest manifest;
    if (!read_lines(text, lines, problem) || !read_fields(lines, manifest, problem) ||
        !read_list_hashes(lines, manifest, problem)) {
        return std::nullopt;
    }
    return manifest;
}

std::string where_in(const Manifest& manifest, const std::string& path, const std::string& key) {
    const auto line = manifest.lines.find(key);
    return line == manifest.lines.end() ? path : path + ":" + std::to_string(line->second);
}

uint64_t text_hash(std::string_view bytes) { return XXH3_64bits(bytes.data(), bytes.size()); }

VouchedFile vouch_for(const std::string& path) {
    VouchedFile file{path};
    const Descriptor opened(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    const int fd = opened.fd;
    if (fd < 0) fail_in(path, std::string("cannot open: ") + std::strerror(errno));
    struct stat before {};
    if (::fstat(fd, &before) != 0) fail_in(path, std::string("cannot read: ") + std::strerror(errno));
    record_state(before, file);
    const std::unique_ptr<XXH3_state_t, XXH_errorcode (*)(XXH3_state_t*)> state(XXH3_createState(), XXH3_freeState);
    if (!state || XXH3_64bits_reset(state.get()) != XXH_OK) throw std::bad_alloc();
    std::vector<char> block(1 << 16);
    for (;;) {
        const ssize_t got = ::read(fd, block.data(), block.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) fail_in(path, std::string("cannot read: ") + std::strerror(errno));
        if (got == 0) break;
        XXH3_64bits_update(state.get(), block.data(), std::size_t(got));
    }
    struct stat after {};
    if (::fstat(fd, &after) != 0 || !same_state(after, file)) fail_in(path, "changed while it was read");
    file.hash = XXH3_64bits_digest(state.get());
    return file;
}

void require_unchanged(const VouchedFile& file) {
    struct stat now {};
    if (::stat(file.path.c_str(), &now) != 0 || !same_state(now, file)) {
        fail_in(file.path, "changed while this run used it, so its bytes may not be those hashed; run again");
    }
}
