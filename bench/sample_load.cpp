// Loads one sample file and prints its size and a checksum of every loaded
// float's bits, so that two readers can be timed and compared byte for byte.
//
// Usage: sample_load program|stream FILE
//   program  the engine's loader, as programma measures and loads a file
//   stream   a plain fscanf("%f") stream reader
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "file_lib.h"
#include "sample_loader.h"
#include "stream_reader.h"

int main(int argc, char** argv) {
    if (argc != 3 || (std::strcmp(argv[1], "program") != 0 && std::strcmp(argv[1], "stream") != 0)) {
        std::fprintf(stderr, "usage: %s program|stream FILE\n", argv[0]);
        return 2;
    }
    const char* path = argv[2];
    SampleMatrix matrix;
    if (std::strcmp(argv[1], "program") == 0) {
        Dims dims;
        MeasuredFile measured;
        const EngineSettings settings = programma::options_from_environment();  // as programma reads them
        if (measure_samples(path, dims, measured, settings) != 0) return 1;
        if (load_samples(matrix, dims.columns, dims.rows, path, measured, settings) != 0) return 1;
    } else if (!stream_read(path, matrix)) {
        std::fprintf(stderr, "%s: cannot load %s\n", argv[0], path);
        return 1;
    }
    // FNV-1a over the bit patterns of the floats, in row order.
    uint64_t hash = 14695981039346656037ull;
    for (float value : matrix.values) {
        hash ^= std::bit_cast<uint32_t>(value);
        hash *= 1099511628211ull;
    }
    std::printf("%u rows x %u columns, checksum %016llx\n", matrix.rows, matrix.columns,
                static_cast<unsigned long long>(hash));
    return 0;
}
