#include "fli/FrameStore.h"

#include <string>

#include "util/Error.h"

namespace varek {

FrameStore::FrameStore()
{
    Reset();
}

void FrameStore::Reset()
{
    m_records.clear();
    m_records.shrink_to_fit();
    m_records.push_back(std::make_unique<FrameRecord>());
}

void FrameStore::AddFrame()
{
    if (m_records.size() >= kMaxRecords) {
        ThrowOverflow("Overflow: the animation needs more than " +
                      std::to_string(kMaxRecords - 1) +
                      " frames (1 GiB); the frames after that are not loaded");
    }
    m_records.push_back(std::make_unique<FrameRecord>(*m_records.back()));
}

const FrameRecord& FrameStore::at(std::size_t index) const
{
    if (index >= m_records.size()) {
        ThrowIndexOutOfRange("Index out of range: frame " + std::to_string(index) +
                             " of an animation with " + std::to_string(FrameCount()) +
                             (FrameCount() == 1 ? " frame" : " frames"));
    }
    return *m_records[index];
}

}  // namespace varek
