#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/winmm.h"
#include "wavefile/riff_builder.h"

using namespace dsp::platform;
using wavetest::chunk;
using wavetest::le32;
using wavetest::riff;

namespace {

HMMIO openFile(const std::string& path, DWORD flags, MMIOINFO* info = nullptr) {
    return mmioOpenA(const_cast<char*>(path.c_str()), info, flags);
}

}  // namespace

// Random reads, writes and seeks through buffers of several sizes behave like a plain byte
// array: every read returns what the array holds, and the file ends up equal to the array.
class MmioBuffering : public ::testing::TestWithParam<LONG> {};

TEST_P(MmioBuffering, MatchesAByteArrayModel) {
    wavetest::TempDir dir;
    const std::string path = dir.file("model.bin");
    HMMIO file = openFile(path, MMIO_CREATE | MMIO_READWRITE);
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(mmioSetBuffer(file, nullptr, GetParam(), 0), MMSYSERR_NOERROR);
    std::vector<char> model;
    LONG position = 0;
    std::mt19937 rng(1234);
    const int weights[] = {0, 0, 0, 1, 1, 1, 2, 3, 3, 3, 4};  // write, read, seek, hop, end
    for (int step = 0; step < 20000; ++step) {
        const int op = weights[rng() % 11];
        const LONG count = LONG(rng() % 3 == 0 ? rng() % 20000 : rng() % 40);
        if (op == 0) {  // write
            std::vector<char> data(static_cast<size_t>(count));
            for (char& c : data) c = char(rng());
            ASSERT_EQ(mmioWrite(file, data.data(), count), count) << "step " << step;
            if (count > 0 && model.size() < size_t(position + count)) model.resize(size_t(position + count));
            if (count > 0) std::memcpy(model.data() + position, data.data(), data.size());
            position += count;
        } else if (op == 1) {  // read
            std::vector<char> data(static_cast<size_t>(count));
            const LONG expected = std::max<LONG>(0, std::min<LONG>(count, LONG(model.size()) - position));
            ASSERT_EQ(mmioRead(file, data.data(), count), expected) << "step " << step;
            for (LONG i = 0; i < expected; ++i)
                ASSERT_EQ(data[size_t(i)], model[size_t(position + i)]) << "step " << step << " byte " << i;
            position += expected;
        } else if (op == 2) {  // seek from the start, sometimes a little past the end
            const LONG target = LONG(rng() % (model.size() + 10));
            ASSERT_EQ(mmioSeek(file, target, SEEK_SET), target);
            position = target;
        } else if (op == 3) {  // short hops around the position, as chunk fix-ups do
            const LONG target = std::max<LONG>(0, position + LONG(rng() % 101) - 50);
            ASSERT_EQ(mmioSeek(file, target - position, SEEK_CUR), target);
            position = target;
        } else {
            ASSERT_EQ(mmioSeek(file, 0, SEEK_END), LONG(model.size())) << "step " << step;
            ASSERT_EQ(mmioSeek(file, position, SEEK_SET), position);
            if (rng() % 8 == 0) {
                ASSERT_EQ(mmioFlush(file, MMIO_EMPTYBUF), MMSYSERR_NOERROR);
            }
        }
    }
    ASSERT_EQ(mmioClose(file, 0), MMSYSERR_NOERROR);
    const std::string disk = wavetest::readFile(path);
    ASSERT_EQ(disk.size(), model.size());
    for (size_t i = 0; i < disk.size(); ++i) ASSERT_EQ(disk[i], model[i]) << "byte " << i;
}

INSTANTIATE_TEST_SUITE_P(BufferSizes, MmioBuffering, ::testing::Values(0, 7, 4096, 131072));

TEST(Mmio, OpenRefusals) {
    wavetest::TempDir dir;
    MMIOINFO info{};
    EXPECT_EQ(openFile(dir.file("missing.wav"), MMIO_READ, &info), nullptr);
    EXPECT_EQ(info.wErrorRet, MMIOERR_FILENOTFOUND);
    info = MMIOINFO{};
    info.fccIOProc = mmioFOURCC('X', 'Y', 'Z', ' ');  // nothing registered under this code
    EXPECT_EQ(openFile(dir.file("a.bin"), MMIO_CREATE | MMIO_WRITE, &info), nullptr);
    EXPECT_EQ(info.wErrorRet, MMSYSERR_NOTSUPPORTED);
    info = MMIOINFO{};
    info.fccIOProc = mmioStringToFOURCCA("DOS ", 0);
    HMMIO file = openFile(dir.file("a.bin"), MMIO_ALLOCBUF | MMIO_CREATE | MMIO_WRITE, &info);
    ASSERT_NE(file, nullptr);
    char byte = 0;
    EXPECT_EQ(mmioRead(file, &byte, 1), -1) << "read on a write-only file";
    EXPECT_EQ(mmioSeek(file, -1, SEEK_SET), -1);
    EXPECT_EQ(mmioClose(file, 0), MMSYSERR_NOERROR);
}

// A created RIFF form with an odd-sized chunk: sizes fixed by the ascends, pad byte written,
// position behind each chunk.
TEST(Mmio, CreateAndAscendWriteTheForm) {
    wavetest::TempDir dir;
    const std::string path = dir.file("form.bin");
    HMMIO file = openFile(path, MMIO_ALLOCBUF | MMIO_CREATE | MMIO_WRITE);
    ASSERT_NE(file, nullptr);
    MMCKINFO form{};
    form.fccType = mmioFOURCC('T', 'E', 'S', 'T');
    ASSERT_EQ(mmioCreateChunk(file, &form, MMIO_CREATERIFF), MMSYSERR_NOERROR);
    EXPECT_EQ(form.dwDataOffset, 8u);
    MMCKINFO odd{};
    odd.ckid = mmioFOURCC('o', 'd', 'd', ' ');
    odd.cksize = 100;  // wrong on purpose: the ascend corrects it
    ASSERT_EQ(mmioCreateChunk(file, &odd, 0), MMSYSERR_NOERROR);
    ASSERT_EQ(mmioWrite(file, "abc", 3), 3);
    ASSERT_EQ(mmioAscend(file, &odd, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(odd.cksize, 3u);
    EXPECT_EQ(mmioSeek(file, 0, SEEK_CUR), 24);  // 12 + 8 + 3 + pad
    MMCKINFO even{};
    even.ckid = mmioFOURCC('e', 'v', 'e', 'n');
    even.cksize = 2;  // right already
    ASSERT_EQ(mmioCreateChunk(file, &even, 0), MMSYSERR_NOERROR);
    ASSERT_EQ(mmioWrite(file, "xy", 2), 2);
    ASSERT_EQ(mmioAscend(file, &even, 0), MMSYSERR_NOERROR);
    ASSERT_EQ(mmioAscend(file, &form, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(form.cksize, 26u);
    ASSERT_EQ(mmioClose(file, 0), MMSYSERR_NOERROR);
    const std::string expected = riff("TEST", chunk("odd ", "abc") + chunk("even", "xy"));
    EXPECT_EQ(wavetest::readFile(path), expected);
}

// Chunk searches stop at the parent's end, skip forms of another type and honour pad bytes.
TEST(Mmio, DescendSearchBounds) {
    wavetest::TempDir dir;
    const std::string path = dir.file("bounds.bin");
    // A "late" chunk sits behind the RIFF form's end; a form "AVI " comes before "WAVE".
    wavetest::writeFile(path, riff("AVI ", chunk("late", "1")) +
                                  riff("WAVE", chunk("pad ", "x") + chunk("LIST", "INFOab") + chunk("in  ", "22")) +
                                  chunk("late", "333"));
    HMMIO file = openFile(path, MMIO_READ);
    ASSERT_NE(file, nullptr);
    MMCKINFO form{};
    form.fccType = mmioFOURCC('W', 'A', 'V', 'E');
    ASSERT_EQ(mmioDescend(file, &form, nullptr, MMIO_FINDRIFF), MMSYSERR_NOERROR);
    EXPECT_EQ(form.dwDataOffset, 30u);  // the AVI form (22 bytes) was skipped
    MMCKINFO list{};
    list.fccType = mmioFOURCC('I', 'N', 'F', 'O');
    ASSERT_EQ(mmioDescend(file, &list, &form, MMIO_FINDLIST), MMSYSERR_NOERROR);
    EXPECT_EQ(list.cksize, 6u);
    ASSERT_EQ(mmioAscend(file, &list, 0), MMSYSERR_NOERROR);
    MMCKINFO inside{};
    inside.ckid = mmioFOURCC('i', 'n', ' ', ' ');
    ASSERT_EQ(mmioDescend(file, &inside, &form, MMIO_FINDCHUNK), MMSYSERR_NOERROR);
    char data[2];
    ASSERT_EQ(mmioRead(file, data, 2), 2);
    EXPECT_EQ(std::string(data, 2), "22");
    ASSERT_EQ(mmioSeek(file, 34, SEEK_SET), 34);  // back to the first chunk inside "WAVE"
    MMCKINFO late{};
    late.ckid = mmioFOURCC('l', 'a', 't', 'e');
    EXPECT_EQ(mmioDescend(file, &late, &form, MMIO_FINDCHUNK), MMIOERR_CHUNKNOTFOUND);
    ASSERT_EQ(mmioSeek(file, 34, SEEK_SET), 34);
    EXPECT_EQ(mmioDescend(file, &late, nullptr, MMIO_FINDCHUNK), MMSYSERR_NOERROR);  // unbounded
    EXPECT_EQ(late.cksize, 3u);
    mmioClose(file, 0);
}
