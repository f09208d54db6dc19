#include "platform/winmm.h"

#if !defined(_WIN32)

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <new>

namespace dsp::platform {

// An open file with one buffer window. The window holds the file's bytes
// [windowStart, windowStart + windowValid); bytes [dirtyBegin, dirtyEnd) of it were written and
// not yet stored. The position may lie anywhere, inside the window or not.
struct MmioFile {
    int fd = -1;
    bool readable = false;
    bool writable = false;
    char* buffer = nullptr;  // null: unbuffered
    int64_t bufferSize = 0;
    bool ownsBuffer = false;
    int64_t position = 0;
    int64_t windowStart = 0;
    int64_t windowValid = 0;
    int64_t dirtyBegin = 0;
    int64_t dirtyEnd = 0;  // == dirtyBegin: clean
};

namespace {

constexpr int64_t kMaxPosition = INT32_MAX;

int64_t preadAll(int fd, char* data, int64_t count, int64_t at) {
    int64_t done = 0;
    while (done < count) {
        const ssize_t n = ::pread(fd, data + done, size_t(count - done), off_t(at + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        done += n;
    }
    return done;
}

bool pwriteAll(int fd, const char* data, int64_t count, int64_t at) {
    int64_t done = 0;
    while (done < count) {
        const ssize_t n = ::pwrite(fd, data + done, size_t(count - done), off_t(at + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += n;
    }
    return true;
}

bool storeDirty(MmioFile& f) {
    if (f.dirtyEnd == f.dirtyBegin) return true;
    const bool ok = pwriteAll(f.fd, f.buffer + f.dirtyBegin, f.dirtyEnd - f.dirtyBegin, f.windowStart + f.dirtyBegin);
    f.dirtyBegin = f.dirtyEnd = 0;
    return ok;
}

// Stores pending bytes and starts an empty window at the current position.
bool restartWindow(MmioFile& f) {
    const bool ok = storeDirty(f);
    f.windowStart = f.position;
    f.windowValid = 0;
    return ok;
}

void releaseBuffer(MmioFile& f) {
    if (f.ownsBuffer) delete[] f.buffer;
    f.buffer = nullptr;
    f.bufferSize = 0;
    f.ownsBuffer = false;
}

MMRESULT errorFromErrno(int error) {
    switch (error) {
        case ENOENT: return MMIOERR_FILENOTFOUND;
        case ENOTDIR: return MMIOERR_PATHNOTFOUND;
        case EACCES:
        case EPERM:
        case EROFS: return MMIOERR_ACCESSDENIED;
        case EMFILE:
        case ENFILE: return MMIOERR_TOOMANYOPENFILES;
        case ENOMEM: return MMIOERR_OUTOFMEMORY;
        default: return MMIOERR_CANNOTOPEN;
    }
}

uint32_t readLe32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void writeLe32(unsigned char* p, uint32_t value) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(value >> (8 * i));
}

}  // namespace

HMMIO mmioOpenA(LPSTR fileName, MMIOINFO* info, DWORD flags) {
    auto fail = [info](MMRESULT error) -> HMMIO {
        if (info != nullptr) {
            info->wErrorRet = error;
            info->hmmio = nullptr;
        }
        return nullptr;
    };
    // Parsing names, deleting, existence tests and temporary names are not offered.
    if ((flags & (MMIO_PARSE | MMIO_DELETE | MMIO_EXIST | MMIO_GETTEMP)) != 0) return fail(MMSYSERR_NOTSUPPORTED);
    if (fileName == nullptr) return fail(MMSYSERR_INVALPARAM);
    // "WAV " stands for ordinary buffered file I/O, like "DOS "; nothing else is registered.
    if (info != nullptr) {
        if (info->pIOProc != nullptr) return fail(MMSYSERR_NOTSUPPORTED);
        const FOURCC proc = info->fccIOProc;
        if (proc != 0 && proc != FOURCC_DOS && proc != mmioFOURCC('W', 'A', 'V', ' ')) return fail(MMSYSERR_NOTSUPPORTED);
    }
    int openFlags = O_CLOEXEC;
    bool readable = false;
    bool writable = false;
    switch (flags & MMIO_RWMODE) {
        case MMIO_READ: openFlags |= O_RDONLY; readable = true; break;
        case MMIO_WRITE: openFlags |= O_WRONLY; writable = true; break;
        case MMIO_READWRITE: openFlags |= O_RDWR; readable = writable = true; break;
        default: return fail(MMSYSERR_INVALFLAG);
    }
    if ((flags & MMIO_CREATE) != 0) openFlags |= O_CREAT | O_TRUNC;

    auto* file = new (std::nothrow) MmioFile;
    if (file == nullptr) return fail(MMIOERR_OUTOFMEMORY);
    file->readable = readable;
    file->writable = writable;
    const LONG callerSize = info != nullptr ? info->cchBuffer : 0;
    if (info != nullptr && info->pchBuffer != nullptr && callerSize > 0) {
        file->buffer = info->pchBuffer;
        file->bufferSize = callerSize;
    } else if ((flags & MMIO_ALLOCBUF) != 0) {
        const LONG size = callerSize > 0 ? callerSize : MMIO_DEFAULTBUFFER;
        file->buffer = new (std::nothrow) char[size_t(size)];
        if (file->buffer == nullptr) {
            delete file;
            return fail(MMIOERR_OUTOFMEMORY);
        }
        file->bufferSize = size;
        file->ownsBuffer = true;
    }
    file->fd = ::open(fileName, openFlags, 0666);
    if (file->fd < 0) {
        const MMRESULT error = errorFromErrno(errno);
        releaseBuffer(*file);
        delete file;
        return fail(error);
    }
    struct stat st {};
    if (::fstat(file->fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(file->fd);
        releaseBuffer(*file);
        delete file;
        return fail(MMIOERR_CANNOTOPEN);
    }
    if (info != nullptr) {
        info->wErrorRet = MMSYSERR_NOERROR;
        info->hmmio = file;
    }
    return file;
}

MMRESULT mmioClose(HMMIO file, UINT) {
    if (file == nullptr) return MMSYSERR_INVALHANDLE;
    const bool stored = storeDirty(*file);
    const bool closed = ::close(file->fd) == 0;
    releaseBuffer(*file);
    delete file;
    if (!stored) return MMIOERR_CANNOTWRITE;
    return closed ? MMSYSERR_NOERROR : MMIOERR_CANNOTCLOSE;
}

LONG mmioRead(HMMIO file, HPSTR data, LONG count) {
    if (file == nullptr || !file->readable || count < 0 || (data == nullptr && count > 0)) return -1;
    MmioFile& f = *file;
    if (f.buffer == nullptr) {
        const int64_t n = preadAll(f.fd, data, count, f.position);
        if (n < 0) return -1;
        f.position += n;
        return LONG(n);
    }
    int64_t done = 0;
    while (done < count) {
        const int64_t windowEnd = f.windowStart + f.windowValid;
        if (f.position >= f.windowStart && f.position < windowEnd) {
            const int64_t n = std::min(windowEnd - f.position, int64_t{count} - done);
            std::memcpy(data + done, f.buffer + (f.position - f.windowStart), size_t(n));
            f.position += n;
            done += n;
            continue;
        }
        if (!restartWindow(f)) return done > 0 ? LONG(done) : -1;
        const int64_t left = int64_t{count} - done;
        if (left >= f.bufferSize) {  // large reads bypass the buffer
            const int64_t n = preadAll(f.fd, data + done, left, f.position);
            if (n < 0) return done > 0 ? LONG(done) : -1;
            f.position += n;
            done += n;
            f.windowStart = f.position;
            break;
        }
        const int64_t n = preadAll(f.fd, f.buffer, f.bufferSize, f.position);
        if (n < 0) return done > 0 ? LONG(done) : -1;
        f.windowValid = n;
        if (n == 0) break;
    }
    return LONG(done);
}

LONG mmioWrite(HMMIO file, const char* data, LONG count) {
    if (file == nullptr || !file->writable || count < 0 || (data == nullptr && count > 0)) return -1;
    MmioFile& f = *file;
    if (f.position + count > kMaxPosition) return -1;
    if (f.buffer == nullptr) {
        if (!pwriteAll(f.fd, data, count, f.position)) return -1;
        f.position += count;
        return count;
    }
    int64_t done = 0;
    while (done < count) {
        const int64_t offset = f.position - f.windowStart;
        if (offset < 0 || offset > f.windowValid || offset >= f.bufferSize) {
            if (!restartWindow(f)) return -1;
            continue;
        }
        const int64_t n = std::min(f.bufferSize - offset, int64_t{count} - done);
        std::memcpy(f.buffer + offset, data + done, size_t(n));
        if (f.dirtyEnd == f.dirtyBegin) {
            f.dirtyBegin = offset;
            f.dirtyEnd = offset + n;
        } else {
            f.dirtyBegin = std::min(f.dirtyBegin, offset);
            f.dirtyEnd = std::max(f.dirtyEnd, offset + n);
        }
        f.windowValid = std::max(f.windowValid, offset + n);
        f.position += n;
        done += n;
    }
    return count;
}

LONG mmioSeek(HMMIO file, LONG offset, int origin) {
    if (file == nullptr) return -1;
    int64_t base = 0;
    switch (origin) {
        case SEEK_SET: base = 0; break;
        case SEEK_CUR: base = file->position; break;
        case SEEK_END: {
            struct stat st {};
            if (::fstat(file->fd, &st) != 0) return -1;
            base = st.st_size;  // plus bytes still waiting in the buffer
            if (file->dirtyEnd != file->dirtyBegin) base = std::max<int64_t>(base, file->windowStart + file->dirtyEnd);
            break;
        }
        default: return -1;
    }
    const int64_t target = base + offset;
    if (target < 0 || target > kMaxPosition) return -1;
    file->position = target;
    return LONG(target);
}

MMRESULT mmioSetBuffer(HMMIO file, LPSTR buffer, LONG size, UINT) {
    if (file == nullptr) return MMSYSERR_INVALHANDLE;
    if (size < 0) return MMSYSERR_INVALPARAM;
    if (!restartWindow(*file)) return MMIOERR_CANNOTWRITE;
    char* fresh = buffer;
    if (fresh == nullptr && size > 0) {
        fresh = new (std::nothrow) char[size_t(size)];
        if (fresh == nullptr) return MMIOERR_OUTOFMEMORY;  // the old buffer stays
    }
    releaseBuffer(*file);
    if (size > 0) {
        file->buffer = fresh;
        file->bufferSize = size;
        file->ownsBuffer = buffer == nullptr;
    }
    return MMSYSERR_NOERROR;
}

MMRESULT mmioFlush(HMMIO file, UINT flags) {
    if (file == nullptr) return MMSYSERR_INVALHANDLE;
    const bool ok = storeDirty(*file);
    if ((flags & MMIO_EMPTYBUF) != 0) {
        file->windowStart = file->position;
        file->windowValid = 0;
    }
    return ok ? MMSYSERR_NOERROR : MMIOERR_CANNOTWRITE;
}

FOURCC mmioStringToFOURCCA(LPCSTR text, UINT flags) {
    char c[4] = {' ', ' ', ' ', ' '};
    for (int i = 0; text != nullptr && i < 4 && text[i] != '\0'; ++i) {
        c[i] = (flags & MMIO_TOUPPER) != 0 ? char(std::toupper(static_cast<unsigned char>(text[i]))) : text[i];
    }
    return mmioFOURCC(c[0], c[1], c[2], c[3]);
}

MMRESULT mmioDescend(HMMIO file, MMCKINFO* ck, const MMCKINFO* parent, UINT flags) {
    if (file == nullptr || ck == nullptr) return MMSYSERR_INVALPARAM;
    const int64_t end = parent != nullptr ? int64_t{parent->dwDataOffset} + parent->cksize : INT64_MAX;
    FOURCC wantId = 0;  // 0: the chunk at the position, whatever it is
    FOURCC wantType = 0;
    if ((flags & MMIO_FINDCHUNK) != 0) {
        wantId = ck->ckid;
    } else if ((flags & MMIO_FINDRIFF) != 0) {
        wantId = FOURCC_RIFF;
        wantType = ck->fccType;
    } else if ((flags & MMIO_FINDLIST) != 0) {
        wantId = FOURCC_LIST;
        wantType = ck->fccType;
    }
    for (;;) {
        const int64_t start = file->position;
        if (start + 8 > end) return MMIOERR_CHUNKNOTFOUND;
        unsigned char header[12];
        if (mmioRead(file, reinterpret_cast<char*>(header), 8) != 8) return MMIOERR_CHUNKNOTFOUND;
        const FOURCC id = readLe32(header);
        const DWORD size = readLe32(header + 4);
        FOURCC type = 0;
        const bool hasType = id == FOURCC_RIFF || id == FOURCC_LIST;
        if (hasType) {
            if (mmioRead(file, reinterpret_cast<char*>(header + 8), 4) != 4) return MMIOERR_CHUNKNOTFOUND;
            type = readLe32(header + 8);
        }
        const bool match = wantId == 0 || (id == wantId && (wantType == 0 || type == wantType));
        if (match) {
            if (start + 8 > kMaxPosition) return MMIOERR_CHUNKNOTFOUND;
            ck->ckid = id;
            ck->cksize = size;
            ck->fccType = type;
            ck->dwDataOffset = DWORD(start + 8);
            ck->dwFlags = 0;
            return MMSYSERR_NOERROR;
        }
        // A chunk of odd size is followed by a pad byte.
        const int64_t next = start + 8 + int64_t{size} + (size & 1);
        if (next > kMaxPosition || mmioSeek(file, LONG(next), SEEK_SET) < 0) return MMIOERR_CHUNKNOTFOUND;
    }
}

MMRESULT mmioAscend(HMMIO file, MMCKINFO* ck, UINT) {
    if (file == nullptr || ck == nullptr) return MMSYSERR_INVALPARAM;
    if ((ck->dwFlags & MMIO_DIRTY) != 0) {
        const int64_t endOfData = file->position;
        const int64_t size = endOfData - int64_t{ck->dwDataOffset};
        if (size < 0 || ck->dwDataOffset < 4) return MMIOERR_CANNOTSEEK;
        if (DWORD(size) != ck->cksize) {
            unsigned char field[4];
            writeLe32(field, DWORD(size));
            if (mmioSeek(file, LONG(ck->dwDataOffset - 4), SEEK_SET) < 0 ||
                mmioWrite(file, reinterpret_cast<const char*>(field), 4) != 4 ||
                mmioSeek(file, LONG(endOfData), SEEK_SET) < 0) {
                return MMIOERR_CANNOTWRITE;
            }
        }
        ck->cksize = DWORD(size);
        if ((size & 1) != 0) {
            const char pad = 0;
            if (mmioWrite(file, &pad, 1) != 1) return MMIOERR_CANNOTWRITE;
        }
        ck->dwFlags &= ~MMIO_DIRTY;
    }
    const int64_t behind = int64_t{ck->dwDataOffset} + ck->cksize + (ck->cksize & 1);
    if (behind > kMaxPosition || mmioSeek(file, LONG(behind), SEEK_SET) < 0) return MMIOERR_CANNOTSEEK;
    return MMSYSERR_NOERROR;
}

MMRESULT mmioCreateChunk(HMMIO file, MMCKINFO* ck, UINT flags) {
    if (file == nullptr || ck == nullptr) return MMSYSERR_INVALPARAM;
    if ((flags & MMIO_CREATERIFF) != 0) ck->ckid = FOURCC_RIFF;
    if ((flags & MMIO_CREATELIST) != 0) ck->ckid = FOURCC_LIST;
    const bool hasType = (flags & (MMIO_CREATERIFF | MMIO_CREATELIST)) != 0;
    unsigned char header[12];
    writeLe32(header, ck->ckid);
    writeLe32(header + 4, ck->cksize);
    writeLe32(header + 8, ck->fccType);
    const int64_t start = file->position;
    const LONG length = hasType ? 12 : 8;
    if (mmioWrite(file, reinterpret_cast<const char*>(header), length) != length) return MMIOERR_CANNOTWRITE;
    ck->dwDataOffset = DWORD(start + 8);
    ck->dwFlags = MMIO_DIRTY;
    return MMSYSERR_NOERROR;
}

}  // namespace dsp::platform

#endif
