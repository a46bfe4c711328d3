#include "data/image_diff.h"

#include "base/byte_order.h"
#include "data/ctrlr_params.h"
#include "data/field_catalogue.h"
#include "data/image_file.h"
#include "protocol/ctrlr_protocol.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace velmar {

namespace {

// The bytes of one record in one image; fewer than the span announces when the image is short.
struct RecordView {
    const uint8_t* data;
    int length;
};

RecordView View(const std::vector<uint8_t>& image, const ImageSpan& span) {
    const int have = static_cast<int>(image.size()) - span.offset;
    return {image.data() + std::min<size_t>(image.size(), static_cast<size_t>(span.offset)),
            std::clamp(std::min(span.length, have), 0, span.length)};
}

std::string HexBytes(const uint8_t* bytes, int count) {
    std::string text;
    char pair[4];
    for (int i = 0; i < count; ++i) {
        std::snprintf(pair, sizeof pair, i == 0 ? "%02X" : " %02X", bytes[i]);
        text += pair;
    }
    return text;
}

// A field's bytes as the controller keeps them: a number up to four bytes, else hex digits.
std::string StoredValue(const uint8_t* bytes, int width) {
    constexpr int kNumberWidth = 4;
    return width <= kNumberWidth ? std::to_string(GetLE(bytes, width)) : HexBytes(bytes, width);
}

std::string ByteRange(int first, int last) {
    return first == last ? "байт " + std::to_string(first)
                         : "байты " + std::to_string(first) + ".." + std::to_string(last);
}

class RecordComparer {
  public:
    RecordComparer(ImageDifference base, RecordView a, RecordView b, CatalogueTopology topology,
                   std::vector<ImageDifference>& out)
        : base_(std::move(base)), a_(a), b_(b), topology_(topology), out_(out),
          length_(std::max(a.length, b.length)) {}

    void Run() {
        if (length_ == 0) return;
        if (base_.kind == RecordKind::Params && a_.length > 0 && b_.length > 0) {
            RunParams();
            return;
        }
        if (a_.length == 0 || b_.length == 0) {
            ImageDifference d = base_;
            d.offset = 0;
            d.length = length_;
            d.caption = "вся запись";
            d.inA = a_.length > 0;
            d.inB = b_.length > 0;
            (d.inA ? d.a : d.b) = "есть, " + std::to_string(length_) + " байт";
            out_.push_back(std::move(d));
            return;
        }
        CompareFields();
    }

  private:
    void CompareFields() {
        std::vector<bool> covered(static_cast<size_t>(length_), false);
        for (const CatalogueItem& item : CatalogueItems(base_.kind, topology_)) {
            if (item.field->field.name == params::kKsm.name) continue; // RunParams
            const int end = item.offset + item.width;
            for (int i = item.offset; i < std::min(end, length_); ++i)
                covered[static_cast<size_t>(i)] = true;
            CompareField(item, end);
        }
        CompareUncovered(covered);
    }

    // The parameter block ends in its checksum, whatever its length: the fields are compared
    // over the bytes before it, then the checksum byte of each. When each checksum is right
    // for its own block and other fields differ, the checksum only follows those changes, and
    // its line says so.
    void RunParams() {
        const RecordView a = a_, b = b_;
        const ImageDifference base = base_;
        const size_t before = out_.size();
        a_.length = a.length - 1;
        b_.length = b.length - 1;
        length_ = std::max(a_.length, b_.length);
        CompareFields();
        const uint8_t ksmA = a.data[a.length - 1];
        const uint8_t ksmB = b.data[b.length - 1];
        if (ksmA == ksmB && a.length == b.length) return;
        const bool follows = out_.size() > before &&
                             ksmA == ChecksumRot8(a.data, static_cast<size_t>(a.length - 1)) &&
                             ksmB == ChecksumRot8(b.data, static_cast<size_t>(b.length - 1));
        ImageDifference d = base;
        d.offset = std::min(a.length, b.length) - 1;
        d.length = 1;
        d.field = params::kKsm.name;
        d.caption = follows ? "КСМ (следует за изменениями выше)" : "КСМ";
        d.a = HexBytes(&ksmA, 1);
        d.b = HexBytes(&ksmB, 1);
        out_.push_back(std::move(d));
    }

    void CompareField(const CatalogueItem& item, int end) {
        const bool inA = end <= a_.length;
        const bool inB = end <= b_.length;
        if (!inA && !inB) return;
        if (inA && inB && SameCatalogueValue(item, a_.data, b_.data)) return;
        ImageDifference d = base_;
        d.offset = item.offset;
        d.length = item.width;
        d.field = item.field->field.name;
        if (item.element >= 0) d.field += "[" + std::to_string(item.element) + "]";
        d.caption = item.caption;
        d.inA = inA;
        d.inB = inB;
        if (inA) d.a = FormatCatalogueValue(item, a_.data, static_cast<size_t>(a_.length));
        if (inB) d.b = FormatCatalogueValue(item, b_.data, static_cast<size_t>(b_.length));
        if (inA && inB && d.a == d.b) {
            d.storedA = StoredValue(a_.data + item.offset, item.width);
            d.storedB = StoredValue(b_.data + item.offset, item.width);
        }
        out_.push_back(std::move(d));
    }

    // Runs of differing bytes no field covers, split where one image's record ends.
    void CompareUncovered(const std::vector<bool>& covered) {
        auto differs = [&](int i) {
            if (covered[static_cast<size_t>(i)]) return false;
            if ((i < a_.length) != (i < b_.length)) return true;
            return a_.data[i] != b_.data[i];
        };
        for (int i = 0; i < length_;) {
            if (!differs(i)) {
                ++i;
                continue;
            }
            const bool inA = i < a_.length;
            const bool inB = i < b_.length;
            int end = i + 1;
            while (end < length_ && differs(end) && (end < a_.length) == inA &&
                   (end < b_.length) == inB)
                ++end;
            ImageDifference d = base_;
            d.offset = i;
            d.length = end - i;
            d.caption = ByteRange(i, end - 1);
            d.inA = inA;
            d.inB = inB;
            if (inA) d.a = HexBytes(a_.data + i, end - i);
            if (inB) d.b = HexBytes(b_.data + i, end - i);
            out_.push_back(std::move(d));
            i = end;
        }
    }

    ImageDifference base_;
    RecordView a_;
    RecordView b_;
    CatalogueTopology topology_;
    std::vector<ImageDifference>& out_;
    int length_;
};

} // namespace

std::vector<ImageDifference> DiffImages(const std::vector<uint8_t>& a,
                                        const std::vector<uint8_t>& b) {
    static const uint8_t kNoHeader[image::kHeaderLength] = {};
    const uint8_t* headerA = a.size() >= image::kHeaderLength ? a.data() : kNoHeader;
    const uint8_t* headerB = b.size() >= image::kHeaderLength ? b.data() : kNoHeader;
    const auto spansA = ImageSpans(headerA);
    const auto spansB = ImageSpans(headerB);
    std::vector<ImageDifference> out;
    // Both lists hold the same records in the same order; only their lengths differ.
    for (size_t i = 0; i < spansA.size() && i < spansB.size(); ++i) {
        const ImageSpan& sa = spansA[i];
        ImageDifference base{
            sa.kind, sa.index, sa.address, RecordTitle(sa.kind, sa.index, headerA[2], headerA[1]),
            0,       0,        {},         {},
            {},      {}};
        const CatalogueTopology topology{headerA[2], headerA[1]};
        RecordComparer(std::move(base), View(a, sa), View(b, spansB[i]), topology, out).Run();
    }
    return out;
}

std::vector<ImageDifference> DiffRecord(RecordKind kind, int index, int address,
                                        const std::string& title, const uint8_t* a, int lengthA,
                                        const uint8_t* b, int lengthB, CatalogueTopology topology) {
    std::vector<ImageDifference> out;
    ImageDifference base{kind, index, address, title, 0, 0, {}, {}, {}, {}};
    RecordComparer(std::move(base), {a, lengthA}, {b, lengthB}, topology, out).Run();
    return out;
}

std::string StoredValuesText(const ImageDifference& d) {
    if (d.storedA.empty() && d.storedB.empty()) return {};
    return " (в памяти " + d.storedA + " -> " + d.storedB + ")";
}

std::string DifferenceLine(const ImageDifference& d) {
    return d.record + ": " + d.caption + ": " + (d.inA ? d.a : "нет") + " -> " +
           (d.inB ? d.b : "нет") + StoredValuesText(d);
}

std::string RecordAddressText(int address) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", address);
    return text;
}

} // namespace velmar
