// The multimedia file services (buffered file I/O with RIFF chunk navigation) and the wave
// records the wave file reader and writer are written against. On Windows these are the
// system's own; elsewhere this stand-in supplies the same names, flags and records, inside
// namespace dsp::platform so nothing of it leaves the library.
#pragma once

#if defined(_WIN32)

#include <windows.h>
#include <mmsystem.h>
#include <mmreg.h>

namespace dsp::platform {
using ::HMMIO;
using ::MMCKINFO;
using ::MMIOINFO;
using ::WAVEFORMATEX;
using ::WAVEHDR;
}  // namespace dsp::platform

#else

#include <cstddef>
#include <cstdint>
#include <cstdio>  // SEEK_SET, SEEK_CUR, SEEK_END: the mmioSeek origins

namespace dsp::platform {

using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using LONG = int32_t;  // 32 bits, as on Windows: file positions stay below 2 GiB
using UINT = uint32_t;
using BOOL = int;
using FOURCC = DWORD;
using MMRESULT = UINT;
using DWORD_PTR = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
using HPSTR = char*;
using LPSTR = char*;
using LPCSTR = const char*;
using HTASK = void*;

struct MmioFile;
using HMMIO = MmioFile*;

using LPMMIOPROC = LRESULT (*)(LPSTR mmioinfo, UINT message, LPARAM param1, LPARAM param2);

// Results.
constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NOTSUPPORTED = 8;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT MMIOERR_BASE = 256;
constexpr MMRESULT MMIOERR_FILENOTFOUND = MMIOERR_BASE + 1;
constexpr MMRESULT MMIOERR_OUTOFMEMORY = MMIOERR_BASE + 2;
constexpr MMRESULT MMIOERR_CANNOTOPEN = MMIOERR_BASE + 3;
constexpr MMRESULT MMIOERR_CANNOTCLOSE = MMIOERR_BASE + 4;
constexpr MMRESULT MMIOERR_CANNOTREAD = MMIOERR_BASE + 5;
constexpr MMRESULT MMIOERR_CANNOTWRITE = MMIOERR_BASE + 6;
constexpr MMRESULT MMIOERR_CANNOTSEEK = MMIOERR_BASE + 7;
constexpr MMRESULT MMIOERR_CANNOTEXPAND = MMIOERR_BASE + 8;
constexpr MMRESULT MMIOERR_CHUNKNOTFOUND = MMIOERR_BASE + 9;
constexpr MMRESULT MMIOERR_UNBUFFERED = MMIOERR_BASE + 10;
constexpr MMRESULT MMIOERR_PATHNOTFOUND = MMIOERR_BASE + 11;
constexpr MMRESULT MMIOERR_ACCESSDENIED = MMIOERR_BASE + 12;
constexpr MMRESULT MMIOERR_TOOMANYOPENFILES = MMIOERR_BASE + 15;
constexpr MMRESULT MMIOERR_INVALIDFILE = MMIOERR_BASE + 16;

// mmioOpenA flags. Access is the low two bits; the sharing modes are accepted and ignored.
constexpr DWORD MMIO_RWMODE = 0x00000003;
constexpr DWORD MMIO_READ = 0x00000000;
constexpr DWORD MMIO_WRITE = 0x00000001;
constexpr DWORD MMIO_READWRITE = 0x00000002;
constexpr DWORD MMIO_SHAREMODE = 0x00000070;
constexpr DWORD MMIO_COMPAT = 0x00000000;
constexpr DWORD MMIO_EXCLUSIVE = 0x00000010;
constexpr DWORD MMIO_DENYWRITE = 0x00000020;
constexpr DWORD MMIO_DENYREAD = 0x00000030;
constexpr DWORD MMIO_DENYNONE = 0x00000040;
constexpr DWORD MMIO_CREATE = 0x00001000;
constexpr DWORD MMIO_PARSE = 0x00000100;
constexpr DWORD MMIO_DELETE = 0x00000200;
constexpr DWORD MMIO_EXIST = 0x00004000;
constexpr DWORD MMIO_ALLOCBUF = 0x00010000;
constexpr DWORD MMIO_GETTEMP = 0x00020000;
// MMCKINFO::dwFlags: the chunk was made by mmioCreateChunk and its size is not final yet.
constexpr DWORD MMIO_DIRTY = 0x10000000;
// mmioFlush / mmioSetBuffer flags.
constexpr UINT MMIO_EMPTYBUF = 0x0010;
// mmioStringToFOURCCA flags.
constexpr UINT MMIO_TOUPPER = 0x0010;
// mmioDescend / mmioCreateChunk flags.
constexpr UINT MMIO_FINDCHUNK = 0x0010;
constexpr UINT MMIO_FINDRIFF = 0x0020;
constexpr UINT MMIO_FINDLIST = 0x0040;
constexpr UINT MMIO_CREATERIFF = 0x0020;
constexpr UINT MMIO_CREATELIST = 0x0040;
// Buffer size chosen by MMIO_ALLOCBUF when the open asks for none in particular.
constexpr LONG MMIO_DEFAULTBUFFER = 8192;

constexpr FOURCC mmioFOURCC(char c0, char c1, char c2, char c3) {
    return FOURCC(uint8_t(c0)) | FOURCC(uint8_t(c1)) << 8 | FOURCC(uint8_t(c2)) << 16 | FOURCC(uint8_t(c3)) << 24;
}
constexpr FOURCC FOURCC_RIFF = mmioFOURCC('R', 'I', 'F', 'F');
constexpr FOURCC FOURCC_LIST = mmioFOURCC('L', 'I', 'S', 'T');
constexpr FOURCC FOURCC_DOS = mmioFOURCC('D', 'O', 'S', ' ');
constexpr FOURCC FOURCC_MEM = mmioFOURCC('M', 'E', 'M', ' ');

// One chunk: id, size of its data, form type (RIFF and LIST only), file offset of its data
// (for RIFF and LIST that is the form type), flags (MMIO_DIRTY).
struct MMCKINFO {
    FOURCC ckid;
    DWORD cksize;
    FOURCC fccType;
    DWORD dwDataOffset;
    DWORD dwFlags;
};

// Open parameters and status. The stand-in reads fccIOProc, pIOProc, cchBuffer and pchBuffer
// and writes wErrorRet and hmmio; the other fields are kept for layout only.
struct MMIOINFO {
    DWORD dwFlags;
    FOURCC fccIOProc;
    LPMMIOPROC pIOProc;
    UINT wErrorRet;
    HTASK htask;
    LONG cchBuffer;
    HPSTR pchBuffer;
    HPSTR pchNext;
    HPSTR pchEndRead;
    HPSTR pchEndWrite;
    LONG lBufOffset;
    LONG lDiskOffset;
    DWORD adwInfo[3];
    DWORD dwReserved1;
    DWORD dwReserved2;
    HMMIO hmmio;
};

#pragma pack(push, 1)
struct WAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18, "WAVEFORMATEX is 18 packed bytes");

struct WAVEHDR {
    LPSTR lpData;
    DWORD dwBufferLength;
    DWORD dwBytesRecorded;
    DWORD_PTR dwUser;
    DWORD dwFlags;
    DWORD dwLoops;
    WAVEHDR* lpNext;
    DWORD_PTR reserved;
};
static_assert(sizeof(void*) != 8 || sizeof(WAVEHDR) == 48, "WAVEHDR keeps native pointers");

// Opens a file. Access MMIO_READ, MMIO_WRITE or MMIO_READWRITE; MMIO_CREATE creates or
// truncates; MMIO_ALLOCBUF buffers through a platform block of info->cchBuffer bytes (the
// default size when 0); a caller's info->pchBuffer/cchBuffer is used as the buffer as is.
// info->fccIOProc picks the I/O procedure: 0, "DOS " and "WAV " are plain files; other codes
// and caller procedures are refused. Null on failure, with the reason in info->wErrorRet.
HMMIO mmioOpenA(LPSTR fileName, MMIOINFO* info, DWORD flags);
// Writes the buffer back and closes. The handle is gone whatever the result.
MMRESULT mmioClose(HMMIO file, UINT flags);
// Reads up to `count` bytes at the current position: the count read, 0 at the end of the
// file, -1 on error (also for a file opened for writing only).
LONG mmioRead(HMMIO file, HPSTR data, LONG count);
// Writes `count` bytes at the current position (through the buffer): the count, or -1.
LONG mmioWrite(HMMIO file, const char* data, LONG count);
// Moves the position (origin 0 start, 1 current, 2 end): the new position, or -1 when it
// would fall before the start or beyond what a LONG holds. Seeking past the end is allowed.
LONG mmioSeek(HMMIO file, LONG offset, int origin);
// Replaces the I/O buffer: a caller's block when `buffer` is non-null, a platform block of
// `size` bytes when it is null, unbuffered when size is 0. Pending writes are flushed first.
MMRESULT mmioSetBuffer(HMMIO file, LPSTR buffer, LONG size, UINT flags);
// Writes pending buffered bytes to the file; MMIO_EMPTYBUF also forgets what was read ahead.
MMRESULT mmioFlush(HMMIO file, UINT flags);
// The little-endian code of the first four characters, blank-padded; MMIO_TOUPPER upper-cases.
FOURCC mmioStringToFOURCCA(LPCSTR text, UINT flags);
// Reads the chunk header at the current position and enters that chunk; with MMIO_FINDCHUNK
// (ck->ckid), MMIO_FINDRIFF or MMIO_FINDLIST (ck->fccType, 0 for any) it first skips forward
// over other chunks, stopping at the end of `parent` when given. Chunks of odd size are
// followed by a pad byte. Leaves the position at the chunk's data (behind the form type for
// RIFF and LIST). MMIOERR_CHUNKNOTFOUND when the search runs out.
MMRESULT mmioDescend(HMMIO file, MMCKINFO* ck, const MMCKINFO* parent, UINT flags);
// Leaves a chunk: for a chunk made by mmioCreateChunk the current position is its end, its
// size is rewritten in its header when it changed and stored in ck->cksize, and a zero pad
// byte follows an odd size. Then the position is put behind the chunk (and its pad byte).
MMRESULT mmioAscend(HMMIO file, MMCKINFO* ck, UINT flags);
// Writes a chunk header at the current position (id and ck->cksize; with MMIO_CREATERIFF or
// MMIO_CREATELIST the id "RIFF"/"LIST" and the form type ck->fccType) and marks it MMIO_DIRTY.
MMRESULT mmioCreateChunk(HMMIO file, MMCKINFO* ck, UINT flags);

}  // namespace dsp::platform

#endif
