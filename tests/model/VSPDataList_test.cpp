#include "CVSPDataList.h"

#include <gtest/gtest.h>
#include <set>

namespace {

std::unique_ptr<CVSPDataBasic> Record(int id, const std::string& portName) {
    auto record = std::make_unique<CVSPDataBasic>();
    record->VspId = id;
    record->PortName = portName;
    return record;
}

// A runtime record of its own kind, as the engine registers, that reports its destruction.
class CountedRecord : public CVSPDataBasic {
public:
    explicit CountedRecord(int& destroyed) : m_destroyed(destroyed) {}
    ~CountedRecord() override { ++m_destroyed; }

private:
    int& m_destroyed;
};

TEST(VSPDataList, HandsOutEachOfTheTwoHundredFiftySixIdsOnce) {
    CVSPDataList list;
    std::set<int> ids;
    for (int i = 0; i < VSP_ID_COUNT; ++i) {
        int id = list.AllocateId();
        EXPECT_GE(id, VSP_ID_FIRST);
        EXPECT_LE(id, VSP_ID_LAST);
        ids.insert(id);
    }
    EXPECT_EQ(ids.size(), 256u);
    EXPECT_EQ(list.AllocateId(), -1);

    list.ReleaseId(8100);
    list.ReleaseId(7999); // outside the range: ignored
    EXPECT_EQ(list.AllocateId(), 8100);
    EXPECT_EQ(list.AllocateId(), -1);
}

TEST(VSPDataList, FindsPortsByNameIgnoringCase) {
    CVSPDataList list;
    list.Register(Record(8000, "COM3"));
    list.Register(Record(8001, "COM12"));
    ASSERT_NE(list.FindByPortName("com12"), nullptr);
    EXPECT_EQ(list.FindByPortName("com12")->VspId, 8001);
    EXPECT_EQ(list.FindByPortName("Com3")->VspId, 8000);
    EXPECT_EQ(list.FindByPortName("COM1"), nullptr);
    EXPECT_EQ(list.FindByPortName("COM123"), nullptr);
    EXPECT_EQ(list.Lookup(8001)->PortName, "COM12");
    EXPECT_EQ(list.Lookup(8002), nullptr);
}

TEST(VSPDataList, UnregisterGivesTheRecordBackAndNoPartnerKeepsPointingAtIt) {
    CVSPDataList list;
    list.Register(Record(8000, "COM3"));
    list.Register(Record(8001, "COM4"));
    CVSPDataBasic* first = list.Lookup(8000);
    CVSPDataBasic* second = list.Lookup(8001);
    first->BypassPeer = second;
    second->BypassPeer = first;

    std::unique_ptr<CVSPDataBasic> removed = list.Unregister(8000);
    ASSERT_EQ(removed.get(), first);
    EXPECT_EQ(second->BypassPeer, nullptr);
    EXPECT_EQ(list.Lookup(8000), nullptr);
    EXPECT_EQ(list.Records(), std::vector<CVSPDataBasic*>{second});
    EXPECT_EQ(list.Unregister(8000), nullptr);
}

TEST(VSPDataList, DerivedRecordsAreDestroyedWhenReplacedAndByDestroyAll) {
    int destroyed = 0;
    CVSPDataList list;
    for (int id : {8000, 8001, 8000}) {
        auto record = std::make_unique<CountedRecord>(destroyed);
        record->VspId = id;
        list.Register(std::move(record));
    }
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(list.Records().size(), 2u);
    list.Lookup(8000)->BypassPeer = list.Lookup(8001);
    list.Lookup(8001)->BypassPeer = list.Lookup(8000);
    list.AllocateId();

    list.DestroyAll();
    EXPECT_EQ(destroyed, 3);
    EXPECT_TRUE(list.Records().empty());
    EXPECT_EQ(list.AllocateId(), VSP_ID_FIRST);
}

} // namespace
