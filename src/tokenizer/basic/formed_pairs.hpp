// The pairs that one merge step forms with its new id, noted with their positions as the
// step goes, then grouped per pair with the positions still in ascending order. A large step
// notes a position for about every other byte of the text, so positions are 32-bit where the
// text allows.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "support/page_vector.hpp"

namespace tessaron::basic {

template <class Position>
class FormedPairs {
public:
    enum Side : std::uint32_t {
        kIdRight = 0,  // (other, id)
        kIdLeft = 1,   // (id, other)
    };

    void clear() { notes_.clear(); }
    std::size_t size() const { return notes_.size(); }

    // Positions must be noted in ascending order per pair; other is below 2^31.
    void note(Side side, std::uint32_t other, std::uint64_t position) {
        notes_.push_back({(other << 1) | side, static_cast<Position>(position)});
    }
    // Gives back every buffer.
    void release() { *this = FormedPairs(); }
    // Takes back the latest note, which a later merge of the step has undone.
    void retract_last() { notes_.pop_back(); }

    struct Group {
        Side side;
        std::uint32_t other;
        std::size_t begin;  // the group's positions are positions()[begin, end)
        std::size_t end;
    };

    // Groups the notes per pair, ids_in_use bounding `other`; the notes are used up.
    void group(std::uint32_t ids_in_use) {
        groups_.clear();
        const bool oversized =
            notes_.size() * 4 < notes_.capacity() && notes_.capacity() > kSmallBuffer;
        // The first steps note far more than later ones, and the peak memory of a run comes
        // later: buffers four times too large are given back.
        if (oversized) positions_.release();
        if (ids_in_use <= kDenseIds) {
            group_by_table(ids_in_use);
        } else {
            group_by_sorting();
        }
        clear();
        if (oversized) notes_.release();
    }
    const std::vector<Group>& groups() const { return groups_; }
    std::span<const Position> positions(const Group& group) const {
        return {positions_.data() + group.begin, positions_.data() + group.end};
    }

private:
    // Up to this many ids a counting pass groups the notes; beyond it they are sorted.
    static constexpr std::uint32_t kDenseIds = 1u << 22;
    static constexpr std::size_t kSmallBuffer = std::size_t{1} << 16;

    struct Note {
        // 2 * other + side: the group's slot in the counting table, so that grouping, which
        // reads every note twice, need not compute it.
        std::uint32_t slot;
        Position position;
    };

    void group_by_sorting() {
        std::sort(notes_.begin(), notes_.end(), [](const Note& a, const Note& b) {
            return a.slot != b.slot ? a.slot < b.slot : a.position < b.position;
        });
        positions_.resize(notes_.size());
        std::size_t begin = 0;
        while (begin < notes_.size()) {
            const std::uint32_t slot = notes_[begin].slot;
            std::size_t end = begin;
            for (; end < notes_.size() && notes_[end].slot == slot; ++end) {
                positions_[end] = notes_[end].position;
            }
            groups_.push_back({static_cast<Side>(slot & 1), slot >> 1, begin, end});
            begin = end;
        }
    }

    // A stable counting sort of the positions keyed by pair; the groups come out in
    // first-noted order.
    void group_by_table(std::uint32_t ids_in_use) {
        if (counts_.size() < std::size_t{ids_in_use} * 2) {
            counts_.resize(std::size_t{ids_in_use} * 2);
        }
        touched_.clear();
        for (const Note& note : notes_) {
            if (counts_[note.slot]++ == 0) touched_.push_back(note.slot);
        }
        std::size_t offset = 0;
        for (std::size_t slot : touched_) {
            const std::size_t count = counts_[slot];
            counts_[slot] = static_cast<Position>(offset);
            offset += count;
        }
        positions_.resize(notes_.size());
        for (const Note& note : notes_) positions_[counts_[note.slot]++] = note.position;
        // Each slot now holds the end of its group, which is where the next group begins.
        std::size_t begin = 0;
        for (std::size_t slot : touched_) {
            const std::size_t end = counts_[slot];
            counts_[slot] = 0;
            groups_.push_back(
                {static_cast<Side>(slot & 1), static_cast<std::uint32_t>(slot >> 1), begin, end});
            begin = end;
        }
    }

    PageVector<Note> notes_;
    PageVector<Position> positions_;
    PageVector<Position> counts_;  // a step has fewer notes than the text has bytes
    std::vector<std::size_t> touched_;
    std::vector<Group> groups_;
};

}  // namespace tessaron::basic
