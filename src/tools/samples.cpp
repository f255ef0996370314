// Shared pieces of digit-tools: whole-file input and output, number parsing
// and printing, label maps, and sample sets loaded by the engine's loader.
#include "samples.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>

#include "text.h"

namespace {

// Owns a stdio stream; standard streams are never closed.
struct Stream {
    std::FILE* file = nullptr;
    bool owned = false;
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;
    Stream(std::FILE* f, bool own) : file(f), owned(own) {}
    ~Stream() {
        if (owned && file != nullptr) std::fclose(file);
    }
};

// from_chars refuses a leading '+', which strtof takes.
std::string_view without_plus(std::string_view token) {
    if (token.size() > 1 && token[0] == '+' && token[1] != '-' && token[1] != '+') {
        token.remove_prefix(1);
    }
    return token;
}

template <typename Number>
bool parse_number(std::string_view token, Number& value) {
    token = without_plus(token);
    if (token.empty()) return false;
    const char* last = token.data() + token.size();
    auto [ptr, ec] = std::from_chars(token.data(), last, value);
    if (ptr != last) return false;
    // Out of range: strtof's answer (an infinity or zero) is what the
    // program itself would read.
    if (ec == std::errc::result_out_of_range) {
        std::string copy(token);
        value = static_cast<Number>(std::strtod(copy.c_str(), nullptr));
        return true;
    }
    return ec == std::errc();
}

}  // namespace

Descriptor::~Descriptor() {
    if (fd >= 0) ::close(fd);
}

void fail_at(const std::string& file, unsigned long long line, const std::string& what) {
    throw std::runtime_error(file + ":" + std::to_string(line) + ": " + what);
}

void fail_in(const std::string& file, const std::string& what) { throw std::runtime_error(file + ": " + what); }

std::string read_whole_file(const std::string& path) {
    bool standard = path == "-";
    Stream in(standard ? stdin : std::fopen(path.c_str(), "rb"), !standard);
    if (in.file == nullptr) fail_in(path, std::string("cannot open: ") + std::strerror(errno));
    std::string text;
    for_each_block(in.file, path, [&](std::string_view block) { text += block; });
    return text;
}

std::string read_regular_file(const std::string& path, std::size_t most) {
    // Opened without waiting: a FIFO would otherwise wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) fail_in(path, std::string("cannot open: ") + std::strerror(errno));
    Stream in(::fdopen(fd, "rb"), true);
    if (in.file == nullptr) {
        ::close(fd);
        throw std::bad_alloc();
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) fail_in(path, "is not a regular file");
    const auto too_large = [&] { fail_in(path, "is larger than " + std::to_string(most) + " bytes"); };
    if (std::size_t(info.st_size) > most) too_large();
    std::string text;
    for_each_block(in.file, path, [&](std::string_view block) {
        if (block.size() > most - text.size()) too_large();
        text += block;
    });
    return text;
}

void for_each_block(std::FILE* file, const std::string& path, const std::function<void(std::string_view)>& on_block) {
    std::vector<char> block(1 << 16);
    std::size_t got = 0;
    while ((got = std::fread(block.data(), 1, block.size(), file)) > 0) on_block(std::string_view(block.data(), got));
    if (std::ferror(file)) fail_in(path, std::string("cannot read: ") + std::strerror(errno));
}

bool parse_float(std::string_view token, float& value) { return parse_number(token, value); }

bool parse_double(std::string_view token, double& value) { return parse_number(token, value); }

void append_float(std::string& out, float value) {
    char buffer[32];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, end);
}

void append_sample(std::string& out, std::span<const float> features, long long label) {
    for (float value : features) {
        append_float(out, value);
        out += ' ';
    }
    out += std::to_string(label);
    out += '\n';
}

bool LabelMap::add(std::string_view text) {
    return text.empty() || for_each_item(text, ',', [&](std::string_view pair) {
               const std::size_t equals = pair.find('=');
               double from = 0.0;
               double to = 0.0;
               if (equals == std::string_view::npos || !parse_double(pair.substr(0, equals), from) ||
                   !parse_double(pair.substr(equals + 1), to)) {
                   return false;
               }
               pairs.emplace_back(from, to);
               return true;
           });
}

double LabelMap::apply(double label) const {
    for (const auto& [from, to] : pairs) {
        if (label == from) return to;
    }
    return label;
}

long long integer_label(double raw, const LabelMap& map, const std::string& file, unsigned long long line) {
    double label = map.apply(raw);
    if (!std::isfinite(label) || label != std::trunc(label) || std::fabs(label) > 1e15) {
        fail_at(file, line, "label " + printed("%.17g", label) + " is not a whole number");
    }
    return static_cast<long long>(label);
}

const programma::EngineOptions& engine_options() {
    static const programma::EngineOptions options = [] {
        programma::EngineOptions read = programma::options_from_environment();
        read.pin_workers = true;
        return read;
    }();
    return options;
}

programma::SampleSet load_sample_stream(const std::string& path) {
    struct stat info {};
    if (path != "-" && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) return load_sample_set(path);
    // The loader reads a file twice: a stream is kept in a private copy first.
    const std::string text = read_whole_file(path);
    const char* folder = std::getenv("TMPDIR");
    std::string copy = std::string(folder != nullptr && *folder != '\0' ? folder : "/tmp") + "/digit-tools.XXXXXX";
    const int fd = ::mkstemp(copy.data());
    if (fd < 0) fail_in(copy, std::string("cannot make a temporary copy: ") + std::strerror(errno));
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    if (!written) {
        ::unlink(copy.c_str());
        fail_in(path, "cannot write");  // its copy, as the stream's own name shows it
    }
    programma::Result<programma::SampleSet> samples = programma::read_samples(copy, engine_options());
    ::unlink(copy.c_str());
    if (samples) return std::move(samples).value();
    // The copy's faults are the stream's: its own name is shown.
    programma::Error error = samples.error();
    if (error.path == copy) error.path = path;
    throw std::runtime_error(error.message());
}

programma::SampleSet load_sample_set(const std::string& path) {
    return programma::value_or_throw(programma::read_samples(path, engine_options()));
}

void require_training_width(const programma::SampleSet& samples, const std::string& path,
                            const programma::SampleSet& training) {
    if (samples.columns() != training.columns()) {
        fail_in(path, "samples have " + std::to_string(samples.columns()) + " numbers, the training set's have " +
                          std::to_string(training.columns()));
    }
}

programma::SampleSet rows_of(const programma::SampleSet& set, const std::vector<uint32_t>& rows, LastColumn last) {
    const bool labelled = last == LastColumn::label;
    const uint32_t features = labelled ? set.features() : set.columns();
    std::vector<float> values, labels;
    values.reserve(rows.size() * features);
    labels.reserve(rows.size());
    for (const uint32_t r : rows) {
        values.insert(values.end(), set.row(r), set.row(r) + features);
        labels.push_back(labelled ? set.label(r) : 0.0f);
    }
    return programma::value_or_throw(
        programma::samples_from_memory(values.data(), labels.data(), rows.size(), features));
}

std::vector<int32_t> restored_list(const std::string& path, uint32_t rows) {
    return programma::value_or_throw(programma::parse_list(read_regular_file(path), rows, path));
}
