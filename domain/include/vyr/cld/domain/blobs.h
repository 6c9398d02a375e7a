#pragma once

#include <VyrCldapi/Values.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// File contents on the store's side, named by the SHA-256 of their bytes (64 lower-case hex
// digits). A blob is written once, in chunks, and becomes readable only when its bytes were found
// to match its name; an upload cut short resumes after its last whole chunk without a gap before it.
//
// An upload belongs to its uploader: each user writes a copy of their own, keyed by (owner, hash),
// so that nobody learns of, resumes, spoils or drops another user's upload by naming its hash.
// Whole copies of one hash hold the same bytes, so a read takes any of them; who may read which
// hash is the domain's rule (Domain::reads_blob), not the store's.
namespace vyr::cld::domain {

// A chunk beyond the upload's window: the upload resumes from what the store holds.
struct ChunkOutOfPlace : VyrCldapi::Exception {
    ChunkOutOfPlace()
        : Exception(VyrCldapi::ExceptionKind::Argument, "A chunk must start within the upload's window.")
    {
    }
};

class BlobStore {
public:
    static constexpr std::int64_t chunk_size = std::int64_t{1} << 20;
    // Chunks an upload takes ahead of its gap-free start: a client may send this many at once,
    // and the store keeps at most one fewer beyond where the upload stands.
    static constexpr std::int64_t upload_window = 4;

    virtual ~BlobStore() = default;

    // Whether `bytes` may be stored at `offset`, apart from where the upload stands: a multiple
    // of chunk_size, at most chunk_size long, and empty only as the whole of an empty blob.
    static bool fits_chunk(std::int64_t offset, std::string_view bytes)
    {
        return offset >= 0 && offset % chunk_size == 0 && static_cast<std::int64_t>(bytes.size()) <= chunk_size &&
               (!bytes.empty() || offset == 0);
    }

    // The size of the owner's own copy when it is whole; nothing else.
    virtual std::optional<std::int64_t> size(const std::string& owner, const std::string& hash) = 0;
    // The size of any whole copy of `hash`; nothing when the store holds none whole.
    virtual std::optional<std::int64_t> whole_size(const std::string& hash) = 0;
    // How many bytes of the owner's unfinished upload of `hash` the store holds, in whole chunks
    // from the start without a gap: where the upload stands.
    virtual std::int64_t received(const std::string& owner, const std::string& hash) = 0;
    // Stores the chunk that starts at `offset` in the owner's upload: fits_chunk, and before
    // `received` + upload_window chunks (ChunkOutOfPlace otherwise, and after a last chunk shorter
    // than chunk_size); every chunk but the last is chunk_size long. A chunk ahead of a gap is kept
    // until the gap fills. A chunk stored again with the same bytes changes nothing; with other
    // bytes it replaces the one there and drops those after it. Nothing is stored when the
    // owner's copy is whole already.
    struct Stored {
        bool whole = false;    // the owner's copy was whole already
        std::int64_t held = 0; // its size then; else where the upload stands now (`received`)
    };
    virtual Stored put_chunk(const std::string& owner, const std::string& hash, std::int64_t offset,
                             std::string_view bytes) = 0;
    // Makes the owner's upload a whole copy when its bytes hash to `hash` and count `size`;
    // otherwise drops them and answers false. A copy whole already answers whether its size is `size`.
    virtual bool finish(const std::string& owner, const std::string& hash, std::int64_t size) = 0;
    // Drops the uploads never finished that last took a chunk before `before` (milliseconds since
    // the epoch), with their chunks, and answers how many. One still going on resumes from the start.
    virtual std::int64_t drop_unfinished(std::int64_t before) = 0;
    // The chunk that starts at `offset` (a multiple of chunk_size) of any whole copy of `hash`:
    // empty for an empty blob.
    virtual std::string chunk(const std::string& hash, std::int64_t offset) = 0;

    // Content sent with the commit that names it: `bytes` (one chunk at most), which the caller
    // found to hash to `hash`, become the owner's whole copy together with the next revision this
    // thread's metadata store records naming them, while the answered guard lives. A store that
    // shares the metadata's database writes them in that revision's transaction, so that both
    // stand or neither does; another stores them at once, as an upload would. Either way `size`
    // answers afterwards whether they stand.
    virtual std::shared_ptr<void> with_next_revision(const std::string& owner, const std::string& hash,
                                                     std::string_view bytes)
    {
        if (!size(owner, hash)) {
            put_chunk(owner, hash, 0, bytes);
            finish(owner, hash, static_cast<std::int64_t>(bytes.size()));
        }
        return nullptr;
    }
};

} // namespace vyr::cld::domain
