#pragma once

#include <VyrCldapi/Values.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// File contents on the store's side, named by the SHA-256 of their bytes (64 lower-case hex
// digits). A blob is written once, in chunks, and becomes readable only when its bytes were found
// to match its name; an upload cut short resumes after its last whole chunk.
namespace vyr::cld::domain {

// A chunk that would leave a gap in its blob: the upload resumes from what the store holds.
struct ChunkOutOfPlace : VyrCldapi::Exception {
    ChunkOutOfPlace() : Exception(VyrCldapi::ExceptionKind::Argument, "A chunk may not leave a gap in its blob.") {}
};

class BlobStore {
public:
    static constexpr std::int64_t chunk_size = std::int64_t{1} << 20;

    virtual ~BlobStore() = default;

    // The size of a whole blob; nothing when the store does not hold it whole.
    virtual std::optional<std::int64_t> size(const std::string& hash) = 0;
    // How many bytes of an unfinished upload of `hash` the store holds, in whole chunks from the start.
    virtual std::int64_t received(const std::string& hash) = 0;
    // Stores the chunk that starts at `offset`: a multiple of chunk_size, at most `received`
    // (ChunkOutOfPlace otherwise); every chunk but the last is chunk_size long. Storing a chunk
    // again replaces it and drops those after it. Nothing is stored for a blob held whole already.
    struct Stored {
        bool whole = false;    // the blob was whole already
        std::int64_t held = 0; // its size then; else the bytes the upload holds now
    };
    virtual Stored put_chunk(const std::string& hash, std::int64_t offset, std::string_view bytes) = 0;
    // Makes the upload a whole blob when its bytes hash to `hash` and count `size`; otherwise drops
    // them and answers false.
    virtual bool finish(const std::string& hash, std::int64_t size) = 0;
    // Drops the uploads never finished that last took a chunk before `before` (milliseconds since
    // the epoch), with their chunks, and answers how many. One still going on resumes from the start.
    virtual std::int64_t drop_unfinished(std::int64_t before) = 0;
    // The chunk of a whole blob that starts at `offset` (a multiple of chunk_size).
    virtual std::string chunk(const std::string& hash, std::int64_t offset) = 0;
};

} // namespace vyr::cld::domain
