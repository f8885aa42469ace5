// The cabinet writer's output stream, a GOutputStream of our own.
#include "archive/caboutput.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/posixio.h"

namespace mivex {

namespace {

constexpr gsize kOutputBuffer = 1 << 20;

struct CabOutput {
    GOutputStream parent;
    int fd;
    guint8* buffer;
    gsize used;
    goffset position;  // where the next byte goes, counting what is still buffered
    int error;         // the first failure, kept for a close that nobody checks
};

GOutputStreamClass* gOutputParent = nullptr;

gboolean outputFailed(CabOutput* out, int error, GError** gerror) {
    if (out->error == 0) {
        out->error = error;
    }
    g_set_error_literal(gerror, G_IO_ERROR, g_io_error_from_errno(error), g_strerror(error));
    return FALSE;
}

gboolean writeOut(CabOutput* out, const guint8* data, gsize count, GError** gerror) {
    const int error = writeAll(out->fd, data, count);
    return error == 0 ? TRUE : outputFailed(out, error, gerror);
}

gboolean flushOutput(CabOutput* out, GError** gerror) {
    if (out->error != 0) {
        return outputFailed(out, out->error, gerror);
    }
    const gsize used = out->used;
    out->used = 0;
    return writeOut(out, out->buffer, used, gerror);
}

gssize outputWrite(GOutputStream* stream, const void* data, gsize count, GCancellable*,
                   GError** gerror) {
    auto* out = reinterpret_cast<CabOutput*>(stream);
    if (out->used + count > kOutputBuffer && !flushOutput(out, gerror)) {
        return -1;
    }
    if (count >= kOutputBuffer) {
        if (!writeOut(out, static_cast<const guint8*>(data), count, gerror)) {
            return -1;
        }
    } else {
        std::memcpy(out->buffer + out->used, data, count);
        out->used += count;
    }
    out->position += static_cast<goffset>(count);
    return static_cast<gssize>(count);
}

gboolean outputFlush(GOutputStream* stream, GCancellable*, GError** gerror) {
    return flushOutput(reinterpret_cast<CabOutput*>(stream), gerror);
}

goffset outputTell(GSeekable* seekable) {
    return reinterpret_cast<CabOutput*>(seekable)->position;
}

gboolean outputCanSeek(GSeekable*) {
    return TRUE;
}

gboolean outputSeek(GSeekable* seekable, goffset offset, GSeekType type, GCancellable*,
                    GError** gerror) {
    auto* out = reinterpret_cast<CabOutput*>(seekable);
    if (!flushOutput(out, gerror)) {
        return FALSE;
    }
    const int whence = type == G_SEEK_SET ? SEEK_SET : type == G_SEEK_END ? SEEK_END : SEEK_CUR;
    const off_t at = ::lseek(out->fd, offset, whence);
    if (at < 0) {
        return outputFailed(out, errno, gerror);
    }
    out->position = at;
    return TRUE;
}

gboolean outputCannotTruncate(GSeekable*) {
    return FALSE;
}

gboolean outputTruncate(GSeekable*, goffset, GCancellable*, GError** gerror) {
    g_set_error_literal(gerror, G_IO_ERROR, G_IO_ERROR_NOT_SUPPORTED, "Cannot truncate");
    return FALSE;
}

void outputFinalize(GObject* object) {
    g_free(reinterpret_cast<CabOutput*>(object)->buffer);
    G_OBJECT_CLASS(gOutputParent)->finalize(object);
}

void outputClassInit(gpointer klass, gpointer) {
    gOutputParent = static_cast<GOutputStreamClass*>(g_type_class_peek_parent(klass));
    auto* streamClass = static_cast<GOutputStreamClass*>(klass);
    streamClass->write_fn = outputWrite;
    streamClass->flush = outputFlush;
    streamClass->close_fn = outputFlush;  // the descriptor belongs to the writer
    G_OBJECT_CLASS(klass)->finalize = outputFinalize;
}

void outputInit(GTypeInstance* instance, gpointer) {
    auto* out = reinterpret_cast<CabOutput*>(instance);
    out->fd = -1;
    out->buffer = static_cast<guint8*>(g_malloc(kOutputBuffer));
    out->used = 0;
    out->position = 0;
    out->error = 0;
}

void outputSeekableInit(gpointer iface, gpointer) {
    auto* seekable = static_cast<GSeekableIface*>(iface);
    seekable->tell = outputTell;
    seekable->can_seek = outputCanSeek;
    seekable->seek = outputSeek;
    seekable->can_truncate = outputCannotTruncate;
    seekable->truncate_fn = outputTruncate;
}

GType outputType() {
    static const GType type = [] {
        const GTypeInfo info = {
            sizeof(GOutputStreamClass), nullptr, nullptr,    outputClassInit, nullptr, nullptr,
            sizeof(CabOutput),          0,       outputInit, nullptr};
        const GType t = g_type_register_static(G_TYPE_OUTPUT_STREAM, "MivexCabinetOutput", &info,
                                               GTypeFlags(0));
        const GInterfaceInfo seekable = {outputSeekableInit, nullptr, nullptr};
        g_type_add_interface_static(t, G_TYPE_SEEKABLE, &seekable);
        return t;
    }();
    return type;
}

}  // namespace

GOutputStream* newCabinetOutput(int fd) {
    auto* out = static_cast<CabOutput*>(g_object_new(outputType(), nullptr));
    out->fd = fd;
    return G_OUTPUT_STREAM(out);
}

int cabinetOutputError(GOutputStream* stream) {
    return reinterpret_cast<CabOutput*>(stream)->error;
}

}  // namespace mivex
