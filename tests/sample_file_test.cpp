// Measuring and loading sample-set files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>
#include <algorithm>

#include "decimal_scan.h"
#include "engine_settings.h"
#include "file_lib.h"
#include "support.h"

namespace {

struct Measured {
    int status = -1;
    Dims dims;
    std::string out;
    std::string err;
};

Measured measure(const std::string& path) {
    Measured m;
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    m.status = line_counter(path.c_str(), m.dims);
    m.out = ::testing::internal::GetCapturedStdout();
    m.err = ::testing::internal::GetCapturedStderr();
    return m;
}

struct Loaded {
    int status = -1;
    SampleMatrix matrix;
    std::string out;
    std::string err;
};

Loaded measure_and_load(const std::string& path) {
    Loaded l;
    Measured m = measure(path);
    if (m.status != 0) {
        l.status = m.status;
        l.out = m.out;
        l.err = m.err;
        return l;
    }
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    l.status = read_file(l.matrix, m.dims.columns, m.dims.rows, path.c_str());
    l.out = m.out + ::testing::internal::GetCapturedStdout();
    l.err = m.err + ::testing::internal::GetCapturedStderr();
    return l;
}

class SampleFile : public ::testing::Test {
protected:
    std::string make(const std::string& text) {
        std::string path = dir.file("set" + std::to_string(++files));
        write_text(path, text);
        return path;
    }
    TempDir dir;
    int files = 0;
};

TEST_F(SampleFile, MeasuresRowsAndColumnsUnderEveryLayout) {
    struct Case {
        const char* text;
        uint32_t rows;
        uint32_t columns;
    };
    const Case cases[] = {
        {"1 2 3\n4 5 6\n7 8 9\n", 3, 3},
        {"1 2 3\n4 5 6\n7 8 9", 3, 3},          // no final newline
        {"1  2   3\n4 5 6\n", 2, 3},            // repeated blanks
        {"  1 2 3  \n4 5 6\n", 2, 3},           // leading and trailing blanks
        {"1\t2\t3\n4\t5\t6\n", 2, 3},           // tabs
        {"1 2 3\r\n4 5 6\r\n", 2, 3},           // CRLF
        {"1 2 3\n4 5 6\n\n\n", 2, 3},           // trailing empty lines
        {"\n1 2 3\n \t\n4 5 6\n", 2, 3},        // blank lines before and between
        {"5\n", 1, 1},
    };
    for (const Case& c : cases) {
        Measured m = measure(make(c.text));
        EXPECT_EQ(m.status, 0) << c.text;
        EXPECT_EQ(m.dims.rows, c.rows) << c.text;
        EXPECT_EQ(m.dims.columns, c.columns) << c.text;
        EXPECT_EQ(m.out, "");
    }
}

TEST_F(SampleFile, LoadsValuesInFileOrder) {
    Loaded l = measure_and_load(make("1 2 3\r\n\n-4.5\t5e-1 6\n7 +8 9"));
    ASSERT_EQ(l.status, 0) << l.err;
    EXPECT_EQ(l.matrix.rows, 3u);
    EXPECT_EQ(l.matrix.columns, 3u);
    const std::vector<float> expected = {1, 2, 3, -4.5f, 0.5f, 6, 7, 8, 9};
    EXPECT_EQ(std::vector<float>(l.matrix.values.begin(), l.matrix.values.end()), expected);
    EXPECT_EQ(l.matrix.row(1)[0], -4.5f);
}

TEST_F(SampleFile, ReadsNumbersExactlyAsStrtof) {
    const char* forms[] = {"nan", "-nan", "inf", "-Infinity", "1e-3", "+2", "0x1p3", "1e-45",
                           "1e-50", "3.4028236e38", "1e39", "-0", "0.1", "16777217",
                           ".5", "5.", "1E+2", "0", "-1", "9", "-9", "-5."};
    std::string text;
    for (const char* form : forms) text += std::string(form) + " ";
    text += "\n";
    Loaded l = measure_and_load(make(text));
    ASSERT_EQ(l.status, 0) << l.err;
    for (std::size_t i = 0; i < std::size(forms); ++i) {
        float expected = std::strtof(forms[i], nullptr);
        float got = l.matrix.values[i];
        EXPECT_EQ(std::memcmp(&expected, &got, sizeof got), 0) << forms[i];
    }
}

TEST_F(SampleFile, RandomDecimalsMatchStrtofBitForBit) {
    std::mt19937_64 random(12345);
    std::uniform_int_distribution<int> digits(1, 17);
    std::uniform_int_distribution<int> exponent(-50, 40);
    std::string text;
    std::vector<std::string> tokens;
    for (int i = 0; i < 20000; ++i) {
        std::string token = (random() & 1) ? "-" : "";
        int count = digits(random);
        for (int d = 0; d < count; ++d) token += char('0' + random() % 10);
        if (random() % 3 == 0) token.insert(token.size() - std::size_t(count / 2), 1, '.');
        if (random() % 2 == 0) {
            token += 'e';
            token += std::to_string(exponent(random));
        }
        tokens.push_back(token);
        text += token + ((i % 10 == 9) ? "\n" : " ");
    }
    // Decimals at and around the midpoint between two neighbouring floats,
    // where a double rounded again to float can go wrong.
    std::uniform_real_distribution<float> unit(-2.0f, 2.0f);
    for (int i = 0; i < 20000; ++i) {
        const float low = unit(random);
        const double middle = (double(low) + double(std::nextafter(low, 10.0f))) / 2;
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, i % 2 ? "%.17g" : "%.15f", middle);
        tokens.push_back(buffer);
        text += std::string(buffer) + ((i % 10 == 9) ? "\n" : " ");
    }
    Loaded l = measure_and_load(make(text));
    ASSERT_EQ(l.status, 0) << l.err;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        float expected = std::strtof(tokens[i].c_str(), nullptr);
        ASSERT_EQ(std::memcmp(&expected, &l.matrix.values[i], sizeof(float)), 0) << tokens[i];
    }
}

// The 16-byte scanner on its own: tokens of plain-decimal bytes with now
// and then a stray one, followed by a blank, a line end or anything else.
// Whatever it takes must be the whole token, end at a blank or line end, and
// read as strtof reads it; well-formed short tokens must nearly all be taken.
TEST(DecimalScan, TakesOnlyWholePlainDecimalsAndReadsThemAsStrtof) {
    std::mt19937_64 random(777);
    const std::string plain = "0123456789012345678901234567890123456789.-";
    const std::string stray = "+eEx,n_";
    int well_formed = 0;
    int taken_well_formed = 0;
    for (int i = 0; i < 200000; ++i) {
        std::string token;
        const bool negative = random() % 2 == 0;
        if (negative) token += '-';
        const int length = 1 + int(random() % 15);
        const int point = int(random() % (length + 2));
        for (int d = 0; d < length; ++d) {
            if (d == point) token += '.';
            token += char('0' + random() % 10);
        }
        if (random() % 8 == 0) token[random() % token.size()] = plain[random() % plain.size()];
        if (random() % 16 == 0) token[random() % token.size()] = stray[random() % stray.size()];
        const char* ends[] = {" ", "\n", "\t-1 2", "x", "5", "\r\n"};
        std::string text = token + ends[random() % std::size(ends)] + std::string(32, '7');
        float value = 123.0f;
        const int taken = scan_short_decimal(text.data(), value);
        const bool plain_token = token.size() <= 15 && token.find_first_not_of("0123456789.-") == std::string::npos &&
                                 std::count(token.begin(), token.end(), '.') <= 1 &&
                                 token.find('-', 1) == std::string::npos &&
                                 token.find_first_of("0123456789") != std::string::npos;
        const char after = text[token.size()];
        const bool ends_well = after == ' ' || after == '\n' || after == '\t' || after == '\r';
        if (plain_token && ends_well) ++well_formed;
        if (taken == 0) {
            EXPECT_EQ(value, 123.0f);
            continue;
        }
        ASSERT_TRUE(plain_token && ends_well) << "took '" << token << "'";
        ASSERT_EQ(std::size_t(taken), token.size()) << token;
        ++taken_well_formed;
        const float expected = std::strtof(token.c_str(), nullptr);
        ASSERT_EQ(std::memcmp(&expected, &value, sizeof value), 0) << token;
    }
    EXPECT_GT(taken_well_formed, well_formed * 99 / 100);
}

TEST_F(SampleFile, RaggedLineNamesFileAndLine) {
    std::string path = make("1 2 3\n4 5 6\n7 8\n");
    Loaded l = measure_and_load(path);
    EXPECT_EQ(l.status, 1);
    EXPECT_NE(l.err.find(path + ":3: holds 2 numbers, expected 3"), std::string::npos) << l.err;
    Loaded more = measure_and_load(make("1 2\n\n3 4 5\n"));
    EXPECT_EQ(more.status, 1);
    EXPECT_NE(more.err.find(":3: holds 3 numbers"), std::string::npos) << more.err;
}

TEST_F(SampleFile, BadTokenNamesFileAndLine) {
    std::string path = make("1 2 3\n4 five 6\n");
    Loaded l = measure_and_load(path);
    EXPECT_EQ(l.status, 1);
    EXPECT_NE(l.err.find(path + ":2: 'five' is not a number"), std::string::npos) << l.err;
    EXPECT_EQ(measure_and_load(make("1 2x 3\n")).status, 1);
    EXPECT_EQ(measure_and_load(make("1 2 3\n4 5 6,\n")).status, 1);
}

TEST_F(SampleFile, EmptyOrBlankFileIsRefused) {
    for (const char* text : {"", "\n\n", "  \t \n \r\n"}) {
        Measured m = measure(make(text));
        EXPECT_EQ(m.status, 1);
        EXPECT_NE(m.err.find("holds no sample line"), std::string::npos) << m.err;
        EXPECT_EQ(m.out, "");
    }
}

TEST_F(SampleFile, MissingFilePrintsTheProgramsText) {
    std::string path = dir.file("absent");
    Measured m = measure(path);
    EXPECT_EQ(m.status, 1);
    EXPECT_EQ(m.out, "ERRORE NEL FILE");
    EXPECT_NE(m.err.find(path + ": cannot open"), std::string::npos);
    SampleMatrix matrix;
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(read_file(matrix, 3, 3, path.c_str()), 1);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "ERRORE NEL FILE");
    ::testing::internal::GetCapturedStderr();
}

TEST_F(SampleFile, DirectoryIsAReadError) {
    Measured m = measure(dir.path);
    EXPECT_EQ(m.status, 1);
    EXPECT_NE(m.err.find("cannot read"), std::string::npos) << m.err;
}

TEST_F(SampleFile, LongLinesSpanningBlocksLoad) {
    // Lines of about 1.2 MB straddle the reader's blocks.
    const int width = 200001;
    std::string line;
    for (int i = 0; i < width; ++i) {
        if (i > 0) line += ' ';
        line += std::to_string(i % 97);
        line += ".25";
    }
    Loaded l = measure_and_load(make(line + "\n" + line + "\n"));
    ASSERT_EQ(l.status, 0) << l.err;
    EXPECT_EQ(l.matrix.columns, uint32_t(width));
    EXPECT_EQ(l.matrix.row(1)[width - 1], float((width - 1) % 97) + 0.25f);
}

}  // namespace

namespace {

// Files of a megabyte and more are read whole by measuring, kept for the
// load, and split across threads: the result, and the line a diagnostic
// names, must not depend on that.
class LargeSampleFile : public ::testing::Test {
protected:
    void TearDown() override {
        set_fast_engine(true);
        set_engine_threads(std::thread::hardware_concurrency());
    }
    static std::string big_text(int lines) {
        std::string text;
        for (int i = 0; i < lines; ++i) {
            if (i % 97 == 5) text += " \t\r\n";  // blank lines now and then
            text += std::to_string(i) + ".5\t-" + std::to_string(i % 13) + "e-3 0.1 " +
                    std::to_string(i % 10) + "\r\n";
        }
        return text;
    }
    TempDir dir;
};

TEST_F(LargeSampleFile, LoadMatchesStreamingLoad) {
    std::string path = dir.file("big");
    write_text(path, big_text(60000) + "1 2 3 4");  // last line without newline
    for (unsigned threads : {1u, 2u, 3u}) {
        set_engine_threads(threads);
        set_fast_engine(true);
        Loaded fast = measure_and_load(path);
        set_fast_engine(false);
        Loaded reference = measure_and_load(path);
        ASSERT_EQ(fast.status, 0) << fast.err;
        ASSERT_EQ(reference.status, 0) << reference.err;
        EXPECT_EQ(fast.matrix.rows, 60001u);
        EXPECT_EQ(std::memcmp(fast.matrix.values.data(), reference.matrix.values.data(),
                              fast.matrix.values.size() * sizeof(float)),
                  0);
        EXPECT_EQ(fast.matrix.values.size(), reference.matrix.values.size());
    }
}

TEST_F(LargeSampleFile, DiagnosticsNameTheSameLineEitherWay) {
    std::string text = big_text(60000);
    // Break a line late in the file (its number counts the blank lines too).
    std::size_t at = text.size() - 1000;
    at = text.find('\n', at) + 1;
    const long line = std::count(text.begin(), text.begin() + long(at), '\n') + 1;
    std::string ragged = text;
    ragged.insert(at, "7 7\n");
    std::string bad_token = text;
    bad_token.insert(at, "1 2 x3 4\n");
    for (const auto& [name, body] : {std::pair{"ragged", ragged}, std::pair{"token", bad_token}}) {
        std::string path = dir.file(name);
        write_text(path, body);
        for (bool fast : {true, false}) {
            set_fast_engine(fast);
            Loaded l = measure_and_load(path);
            EXPECT_EQ(l.status, 1);
            EXPECT_NE(l.err.find(path + ":" + std::to_string(line) + ": "), std::string::npos)
                << name << (fast ? " fast: " : " reference: ") << l.err;
        }
    }
}

// The kept image serves only a load of the very file it was read from: a
// load of another file reads that one, and a file changed since it was
// measured is reported, never read past the rows counted.
TEST_F(LargeSampleFile, OtherOrChangedFilesAreReadAfresh) {
    const std::string a = dir.file("a");
    const std::string b = dir.file("b");
    write_text(a, big_text(60000));
    write_text(b, big_text(50000));
    set_fast_engine(false);
    const Loaded reference = measure_and_load(a);
    set_fast_engine(true);
    const Measured measured_a = measure(a);
    const Measured measured_b = measure(b);  // b's image is now the kept one
    ASSERT_EQ(measured_a.status, 0);
    ASSERT_EQ(measured_b.status, 0);
    SampleMatrix matrix;
    ASSERT_EQ(read_file(matrix, measured_a.dims.columns, measured_a.dims.rows, a.c_str()), 0);
    ASSERT_EQ(matrix.values.size(), reference.matrix.values.size());
    EXPECT_EQ(std::memcmp(matrix.values.data(), reference.matrix.values.data(),
                          matrix.values.size() * sizeof(float)),
              0);

    for (const std::string& grown : {big_text(60000) + big_text(10), std::string("1 2 3 4\n")}) {
        const Measured before = measure(a);
        ASSERT_EQ(before.status, 0);
        write_text(a, grown);
        ::testing::internal::CaptureStderr();
        SampleMatrix changed;
        EXPECT_EQ(read_file(changed, before.dims.columns, before.dims.rows, a.c_str()), 1);
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find("the file changed"), std::string::npos) << err;
        write_text(a, big_text(60000));
    }
}

// Lines far longer than a thread's read buffer (hundreds of kilobytes),
// blank or holding tens of thousands of numbers, load as the reference
// reads them at any thread count.
TEST_F(LargeSampleFile, LinesLongerThanTheReadBufferLoadWhole) {
    std::string text(700 << 10, ' ');
    text += "\n";
    for (int row = 0; row < 12; ++row) {
        for (int column = 0; column < 40000; ++column) {
            text += std::to_string((row * 7 + column) % 19 - 9) + (column % 3 == 0 ? ".25 " : " ");
        }
        text += row % 4 == 0 ? "\r\n" : "\n";
        if (row == 5) text += std::string(600 << 10, '\t') + "\n";
    }
    const std::string path = dir.file("wide");
    write_text(path, text);
    set_fast_engine(false);
    const Loaded reference = measure_and_load(path);
    ASSERT_EQ(reference.status, 0) << reference.err;
    ASSERT_EQ(reference.matrix.rows, 12u);
    for (unsigned threads : {1u, 2u, 3u, 4u}) {
        set_engine_threads(threads);
        set_fast_engine(true);
        const Loaded fast = measure_and_load(path);
        ASSERT_EQ(fast.status, 0) << fast.err;
        ASSERT_EQ(fast.matrix.values.size(), reference.matrix.values.size());
        EXPECT_EQ(std::memcmp(fast.matrix.values.data(), reference.matrix.values.data(),
                              fast.matrix.values.size() * sizeof(float)),
                  0)
            << threads << " threads";
    }
}

// A set read ahead is the set the usual load gives, and only for the very
// file it was read from, unchanged; problems are reported once, by the usual
// load, in its words.
TEST_F(LargeSampleFile, ReadAheadGivesTheUsualSetAndLeavesProblemsToTheUsualLoad) {
    set_engine_threads(2);
    const std::string good = dir.file("good");
    const std::string other = dir.file("other");
    const std::string ragged = dir.file("ragged");
    write_text(good, big_text(60000));
    write_text(other, big_text(50000));
    std::string text = big_text(60000);
    text.insert(text.find('\n', text.size() - 1000) + 1, "7 7\n");
    write_text(ragged, text);
    const auto expect_as_usual = [](const Loaded& ahead, const Loaded& usual) {
        EXPECT_EQ(ahead.status, usual.status);
        EXPECT_EQ(ahead.out, usual.out);
        EXPECT_EQ(ahead.err, usual.err);
        if (usual.status != 0) return;  // what a failed load leaves is not a set
        ASSERT_EQ(ahead.matrix.values.size(), usual.matrix.values.size());
        EXPECT_EQ(ahead.matrix.rows, usual.matrix.rows);
        EXPECT_EQ(std::memcmp(ahead.matrix.values.data(), usual.matrix.values.data(),
                              usual.matrix.values.size() * sizeof(float)),
                  0);
    };
    const Loaded usual_good = measure_and_load(good);
    const Loaded usual_other = measure_and_load(other);
    const Loaded usual_ragged = measure_and_load(ragged);
    ASSERT_EQ(usual_good.status, 0);
    ASSERT_EQ(usual_ragged.status, 1);

    for (const std::string* path : {&good, &ragged}) {
        SCOPED_TRACE(*path);
        read_ahead(path->c_str());
        expect_as_usual(measure_and_load(*path), path == &good ? usual_good : usual_ragged);
    }
    // Another file measured first: that one is read, and the first afresh.
    read_ahead(good.c_str());
    expect_as_usual(measure_and_load(other), usual_other);
    expect_as_usual(measure_and_load(good), usual_good);
    // The file replaced after the read ahead: the new one is read.
    read_ahead(good.c_str());
    write_text(good, big_text(50000));
    expect_as_usual(measure_and_load(good), usual_other);
    // The file gone: reported as usual.
    write_text(good, big_text(60000));
    read_ahead(good.c_str());
    ASSERT_EQ(std::remove(good.c_str()), 0);
    const Loaded gone = measure_and_load(good);
    EXPECT_EQ(gone.status, 1);
    EXPECT_EQ(gone.out, "ERRORE NEL FILE");
    EXPECT_NE(gone.err.find("cannot open"), std::string::npos) << gone.err;
}

}  // namespace
