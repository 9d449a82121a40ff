#ifndef REGIONFILE_H
#define REGIONFILE_H

#include "codec/region/regionimage.h"

#include <QByteArray>

#include <functional>
#include <memory>

namespace veltrano {

// The compressed block file: a 49-byte header (magic "FTREGION", version,
// sizes, quantiser steps, the parameters it was made with) and the partition
// and quantised components, coded with adaptive context modelling:
// - version 4: chunks of whole rows of roots, each coded by two interleaved
//   rANS states and raw bits (interleavedranscoder.h) with checks of its
//   own; the contexts run on from chunk to chunk. A writer can pass on each
//   chunk as it is done, so that its memory is bounded (RegionFileWriter).
// - version 3: the same coding, all rows in one stream.
// - version 2: the same decisions by a range coder (binaryrangecoder.h).
// All three are read; version 4 is written. Versions 3 and 4 choose a
// residual's context by its neighbours' tokens, version 2 by their
// magnitudes. The README's table gives the layout.

constexpr int regionFileHeaderSize = 49;
constexpr int regionFileVersion = 4;
// A version 4 chunk ends after the row of roots that brings its coded
// decisions to this many (about 6 MB of them in the writer).
constexpr qint64 regionChunkDecisions = qint64(1) << 20;

// True when data starts with the block file's magic bytes.
bool isRegionFile(const QByteArray &start);

// The bytes of a block file for a checked image (checkRegionPartition), of
// version 4 (chunks ended as RegionFileWriter ends them), or of version 2 or
// 3 when `version` says so.
QByteArray writeRegionFile(const RegionImage &image, int version = regionFileVersion,
                           qint64 chunkDecisions = regionChunkDecisions);

// Writes a version 4 block file a row of roots at a time: the rows' blocks
// come in in coding order, and the chunks go out as they are completed, so
// that memory holds one chunk's coded decisions and the blocks of one row.
// The header, which holds the size of the block data, comes last and goes
// at the start of the file.
class RegionFileWriter
{
public:
    // `header` gives the file's size, root and smallest side, steps and
    // parameters; its blocks are not used.
    explicit RegionFileWriter(const RegionImage &header, qint64 chunkDecisions = regionChunkDecisions);
    ~RegionFileWriter();
    RegionFileWriter(const RegionFileWriter &) = delete;
    RegionFileWriter &operator=(const RegionFileWriter &) = delete;

    // Codes the next row of roots, whose leaves are the blocks of `blocks`
    // from index `first` on (the block before, if any, is the previous row's
    // last leaf), and returns the index after them. A chunk that the row
    // completes (the last row always does) is appended to *chunk.
    int addRow(const RegionImage &blocks, int first, QByteArray *chunk);
    // The bytes of the chunks so far.
    qint64 blockDataSize() const;
    // The file's header, for `blockDataSize` bytes of block data.
    QByteArray header(qint64 blockDataSize) const;

private:
    struct Coding;
    std::unique_ptr<Coding> m_coding;
    qint64 m_chunkDecisions;
};

// Reads a block file. Every header field is checked before anything is
// allocated, images beyond maxPixels are refused from the header, and damaged
// block data are refused; false with *error naming the fault (without the
// file's name), e.g. "its header gives a chroma step of nan".
bool readRegionFile(const QByteArray &data, RegionImage *image, QString *error, qint64 maxPixels);

// The same, one row of roots at a time: begin gets the checked header (no
// blocks yet) and may refuse with *error (say, when the image does not fit in
// memory); rowDone then gets each row of roots as it is decoded, its new
// blocks from index `first` on (the block before them is the previous row's
// last). Memory holds one row of roots' components.
bool decodeRegionFile(const QByteArray &data, qint64 maxPixels, QString *error,
                      const std::function<bool(const RegionImage &header, QString *error)> &begin,
                      const std::function<void(const RegionImage &rows, int first)> &rowDone);

} // namespace veltrano

#endif // REGIONFILE_H
