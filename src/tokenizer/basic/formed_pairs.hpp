// The pairs that one merge step forms with its new id, noted with their positions as the
// step goes, then grouped per pair with the positions still in ascending order.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

namespace tessaron::basic {

class FormedPairs {
public:
    enum Side : std::uint64_t {
        kIdRight = 0,  // (other, id)
        kIdLeft = 1,   // (id, other)
    };

    void clear() { notes_.clear(); }
    std::size_t size() const { return notes_.size(); }

    // Positions must be noted in ascending order per pair.
    void note(Side side, std::uint32_t other, std::uint32_t position) {
        notes_.push_back((((std::uint64_t{side} << 31) | other) << 32) | position);
    }
    // Takes back the latest note, which a later merge of the step has undone.
    void retract_last() { notes_.pop_back(); }

    struct Group {
        Side side;
        std::uint32_t other;
        std::uint32_t begin;  // the group's positions are positions()[begin, end)
        std::uint32_t end;
    };

    // Groups the notes per pair, ids_in_use bounding `other`; the notes are used up.
    void group(std::uint32_t ids_in_use) {
        groups_.clear();
        if (ids_in_use <= kDenseIds) {
            group_by_table(ids_in_use);
        } else {
            group_by_sorting();
        }
        notes_.clear();
    }
    const std::vector<Group>& groups() const { return groups_; }
    std::span<const std::uint32_t> positions(const Group& group) const {
        return {positions_.data() + group.begin, positions_.data() + group.end};
    }

private:
    // Up to this many ids a counting pass groups the notes; beyond it they are sorted.
    static constexpr std::uint32_t kDenseIds = 1u << 22;
    static constexpr std::uint64_t kOtherMask = (std::uint64_t{1} << 31) - 1;

    void group_by_sorting() {
        std::sort(notes_.begin(), notes_.end());
        positions_.resize(notes_.size());
        std::uint32_t begin = 0;
        while (begin < notes_.size()) {
            const std::uint64_t tag = notes_[begin] >> 32;
            std::uint32_t end = begin;
            for (; end < notes_.size() && (notes_[end] >> 32) == tag; ++end) {
                positions_[end] = static_cast<std::uint32_t>(notes_[end]);
            }
            groups_.push_back({static_cast<Side>(tag >> 31),
                               static_cast<std::uint32_t>(tag & kOtherMask), begin, end});
            begin = end;
        }
    }

    // Slot 2 * other + side.
    static std::size_t slot_of(std::uint64_t note) {
        const std::uint64_t tag = note >> 32;
        return ((tag & kOtherMask) << 1) | (tag >> 31);
    }

    // A stable counting sort of the positions keyed by pair; the groups come out in
    // first-noted order.
    void group_by_table(std::uint32_t ids_in_use) {
        if (counts_.size() < std::size_t{ids_in_use} * 2) {
            counts_.resize(std::size_t{ids_in_use} * 2);
        }
        touched_.clear();
        for (std::uint64_t note : notes_) {
            if (counts_[slot_of(note)]++ == 0) touched_.push_back(slot_of(note));
        }
        std::uint32_t offset = 0;
        for (std::size_t slot : touched_) {
            const std::uint32_t count = counts_[slot];
            counts_[slot] = offset;
            offset += count;
        }
        positions_.resize(notes_.size());
        for (std::uint64_t note : notes_) {
            positions_[counts_[slot_of(note)]++] = static_cast<std::uint32_t>(note);
        }
        // Each slot now holds the end of its group, which is where the next group begins.
        std::uint32_t begin = 0;
        for (std::size_t slot : touched_) {
            const std::uint32_t end = counts_[slot];
            counts_[slot] = 0;
            groups_.push_back(
                {static_cast<Side>(slot & 1), static_cast<std::uint32_t>(slot >> 1), begin, end});
            begin = end;
        }
    }

    std::vector<std::uint64_t> notes_;
    std::vector<std::uint32_t> positions_;
    std::vector<std::uint32_t> counts_;
    std::vector<std::size_t> touched_;
    std::vector<Group> groups_;
};

}  // namespace tessaron::basic
