// Replays a fuzz target's corpus without the fuzzing engine, so the ordinary (g++) build runs
// every target's seeds as a test: each file given (or each file of each folder given) goes once
// through LLVMFuzzerTestOneInput, then `--variants N` deterministic variants of it (bytes
// flipped, cut, doubled), so the test reaches a little past the seeds on every run. With
// `--max-runs R` a large corpus gets fewer variants per file, so the whole stays within R runs
// (every file still runs once). With `--shard K/N` the run is one of N that share the work:
// each draws every variant in the same order, so the inputs are those of one whole run, and
// runs only the files whose place in the sorted list is K modulo N.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

void Run(const QByteArray &input)
{
    // A copy of exactly the input's size, so AddressSanitizer sees a read past its end.
    std::vector<uint8_t> copy(input.begin(), input.end());
    LLVMFuzzerTestOneInput(copy.data(), copy.size());
}

QByteArray Variant(const QByteArray &seed, std::mt19937 &random)
{
    QByteArray out = seed;
    const int edits = 1 + int(random() % 4);
    for (int e = 0; e < edits; ++e) {
        const int size = int(out.size());
        switch (random() % 5) {
        case 0: // flip a bit
            if (size > 0)
                out[int(random() % size)] ^= char(1u << (random() % 8));
            break;
        case 1: // any byte value
            if (size > 0)
                out[int(random() % size)] = char(random() % 256);
            break;
        case 2: // cut the tail
            if (size > 0)
                out.truncate(int(random() % size));
            break;
        case 3: { // repeat a slice
            if (size > 0) {
                const int from = int(random() % size);
                const int length = 1 + int(random() % std::min(size - from, 64));
                out.insert(int(random() % (size + 1)), out.mid(from, length));
            }
            break;
        }
        default: { // an interesting number
            static const char *const numbers[] = { "-2147483648", "2147483648", "99999999999",
                "-99999999999", "1e39", "-1e39", "nan", "inf", "0", "-0", "4294967296" };
            out.insert(size > 0 ? int(random() % (size + 1)) : 0,
                numbers[random() % (sizeof numbers / sizeof *numbers)]);
            break;
        }
        }
    }
    return out;
}

} // namespace

int main(int argc, char **argv)
{
    int variants = 0;
    long long maxRuns = 0;
    int shard = 0;
    int shards = 1;
    QStringList files;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--variants") == 0 && i + 1 < argc) {
            variants = std::atoi(argv[++i]);
            continue;
        }
        if (std::strcmp(argv[i], "--max-runs") == 0 && i + 1 < argc) {
            maxRuns = std::atoll(argv[++i]);
            continue;
        }
        if (std::strcmp(argv[i], "--shard") == 0 && i + 1 < argc) {
            if (std::sscanf(argv[++i], "%d/%d", &shard, &shards) != 2 || shards < 1 || shard < 0
                || shard >= shards) {
                std::fprintf(stderr, "--shard wants K/N with 0 <= K < N, not %s\n", argv[i]);
                return 2;
            }
            continue;
        }
        // Absolute now: the targets move into a working folder of their own.
        const QString path = QFileInfo(QString::fromLocal8Bit(argv[i])).absoluteFilePath();
        if (QFileInfo(path).isDir()) {
            const QDir dir(path);
            for (const QString &name : dir.entryList(QDir::Files, QDir::Name))
                files << dir.absoluteFilePath(name);
        } else {
            files << path;
        }
    }
    if (files.isEmpty()) {
        std::fprintf(stderr,
            "usage: %s [--variants N] [--max-runs R] [--shard K/N] corpus-folder-or-file...\n",
            argv[0]);
        return 2;
    }
    const long long count = files.size();
    if (maxRuns > 0 && count * (1 + variants) > maxRuns)
        variants = int(std::max(0LL, maxRuns / count - 1));
    std::mt19937 random(20461);
    long long runs = 0;
    long long ran = 0;
    for (qsizetype index = 0; index < files.size(); ++index) {
        const QString &path = files.at(index);
        if (index % shards != shard) {
            // Another shard's file: its variants are drawn all the same, so that every shard
            // gives each file the variants a whole run would.
            QFile file(path);
            if (file.open(QIODevice::ReadOnly)) {
                const QByteArray seed = file.readAll();
                for (int v = 0; v < variants; ++v)
                    Variant(seed, random);
            }
            continue;
        }
        ++ran;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
            return 2;
        }
        const QByteArray seed = file.readAll();
        Run(seed);
        ++runs;
        for (int v = 0; v < variants; ++v, ++runs)
            Run(Variant(seed, random));
    }
    std::printf("%lld inputs from %lld of %lld files ran\n", runs, ran,
        static_cast<long long>(files.size()));
    return 0;
}
