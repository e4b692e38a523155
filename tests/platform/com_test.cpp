#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/com.h"

namespace korva::com {
namespace {

KORVA_COM_INTERFACES_BEGIN
struct IShape : IUnknown {
    static constexpr IID kIid = {0x5A0C1E01, 0x0001, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0x01}};
    using Base = IUnknown;
};
struct ISquare : IShape {
    static constexpr IID kIid = {0x5A0C1E01, 0x0002, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0x02}};
    using Base = IShape;
};
struct IColour : IUnknown {
    static constexpr IID kIid = {0x5A0C1E01, 0x0003, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0x03}};
    using Base = IUnknown;
    virtual int KORVA_COM_CALL Red() = 0;
};
KORVA_COM_INTERFACES_END

int g_liveSquares = 0;

class Square final : public ComObject<ISquare, IColour> {
  public:
    Square() { ++g_liveSquares; }
    int KORVA_COM_CALL Red() override { return 255; }
    ULONG Count() const { return ReferenceCount(); }

  private:
    ~Square() override { --g_liveSquares; }
};

TEST(ComObjectTest, QueryInterfaceAnswersTheInterfacesAndTheirBases) {
    for (const IID& iid : {kIidIUnknown, IShape::kIid, ISquare::kIid, IColour::kIid, kIidIClassFactory}) {
        const bool known = !SameGuid(iid, kIidIClassFactory);
        SCOPED_TRACE(Utf16ToUtf8(GuidToString(iid)));
        auto* square = new Square();
        void* out = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(square->QueryInterface(iid, &out), known ? kSOk : kENoInterface);
        // A success hands out one more reference; a refusal clears the out-pointer.
        EXPECT_EQ(square->Count(), known ? 2u : 1u);
        EXPECT_EQ(out != nullptr ? static_cast<IUnknown*>(out)->Release() : 1u, 1u);
        EXPECT_EQ(square->QueryInterface(iid, nullptr), kEInvalidArg);
        EXPECT_EQ(square->Release(), 0u);
    }
    EXPECT_EQ(g_liveSquares, 0);
}

TEST(ComPtrTest, ReferenceCountsThroughEachOperation) {
    auto* raw = new Square();
    {
        ComPtr<ISquare> owner = ComPtr<ISquare>::Attach(raw);
        ComPtr<ISquare> copied = owner;
        ComPtr<ISquare> moved = std::move(copied);
        EXPECT_FALSE(copied);
        ComPtr<ISquare> added = ComPtr<ISquare>::Copy(raw);
        added = owner;
        EXPECT_EQ(raw->Count(), 3u);  // one each: owner, moved, added
        ComPtr<IColour> colour;
        ASSERT_EQ(owner.As(&colour), kSOk);
        EXPECT_EQ(colour->Red(), 255);
        ComPtr<IUnknown> fromColour;  // COM identity: one IUnknown whichever interface is asked
        ComPtr<IUnknown> fromSquare;
        ASSERT_TRUE(colour.As(&fromColour) == kSOk && owner.As(&fromSquare) == kSOk);
        EXPECT_EQ(fromColour.get(), fromSquare.get());
        ISquare* handedOut = nullptr;
        ASSERT_EQ(owner.CopyTo(&handedOut), kSOk);
        EXPECT_EQ(handedOut->Release(), 6u);
        moved.reset();
        ISquare* detached = added.detach();
        EXPECT_FALSE(added);
        EXPECT_EQ(detached->Release(), 4u);
    }
    EXPECT_EQ(g_liveSquares, 0);
    // put() releases the held object before it exposes the slot; As on an empty pointer empties the target.
    ComPtr<ISquare> holder = ComPtr<ISquare>::Attach(new Square());
    ISquare** slot = holder.put();
    EXPECT_TRUE(g_liveSquares == 0 && *slot == nullptr);
    ComPtr<IShape> target = ComPtr<IShape>::Attach(new Square());
    EXPECT_EQ(holder.As(&target), kEPointer);
    EXPECT_FALSE(target);
    EXPECT_EQ(g_liveSquares, 0);
}

const WChar kSecret[] = KW("Secret-Pa55");
std::vector<std::vector<uint8_t>> g_freed;  // what each freed block held when it was freed
void ObserveFree(const void* memory, void* /*context*/) {
    g_freed.emplace_back(static_cast<const uint8_t*>(memory),
                         static_cast<const uint8_t*>(memory) + sizeof(kSecret));
}

TEST(TaskMemoryTest, SecureHoldersWipeAndAllocationFailureHitsExactlyTheNthAllocation) {
    const auto* secret = reinterpret_cast<const uint8_t*>(kSecret);
    const std::vector<uint8_t> held(secret, secret + sizeof(kSecret));
    const std::vector<uint8_t> wiped(held.size(), 0);
    WChar* copies[2] = {};
    ASSERT_TRUE(DupString(kSecret, &copies[0]) == kSOk && DupString(kSecret, &copies[1]) == kSOk);
    {
        ScopedTaskFreeObserver observer(&ObserveFree, nullptr);
        SecureTaskBytes bytes;
        ASSERT_TRUE(bytes.CopyFrom(kSecret, sizeof(kSecret)));
        SecureTaskString{copies[0]}.reset();
        TaskString{copies[1]}.reset();
    }
    EXPECT_EQ(g_freed, (std::vector<std::vector<uint8_t>>{wiped, held, wiped}));
    for (int nth = 0; nth < 4; ++nth) {
        ScopedAllocationFailure failure(nth);
        for (int i = 0; i < 5; ++i) {
            void* block = TaskAlloc(8);
            EXPECT_EQ(block != nullptr, i != nth) << "allocation " << i << " of " << nth;
            TaskFree(block);
        }
    }
    Square* object = MakeObject<Square>();
    ASSERT_NE(object, nullptr);  // the guard is gone
    object->Release();
    WChar* out = reinterpret_cast<WChar*>(0x1);
    EXPECT_EQ(DupString(nullptr, &out), kEInvalidArg);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(DupString(KW("x"), nullptr), kEInvalidArg);
    ScopedAllocationFailure failure(0);
    out = reinterpret_cast<WChar*>(0x1);
    EXPECT_EQ(DupString(KW("x"), &out), kEOutOfMemory);
    EXPECT_EQ(out, nullptr);
    EXPECT_TRUE(failure.Triggered());
    ScopedAllocationFailure again(0);
    EXPECT_EQ(MakeObject<Square>(), nullptr);
    ScopedAllocationFailure third(0);
    SecureTaskBytes bytes;
    EXPECT_TRUE(bytes.CopyFrom("x", 0));  // size zero owns nothing and allocates nothing
    EXPECT_EQ(bytes.size(), 0u);
    EXPECT_FALSE(bytes.CopyFrom("abc", 3));
    EXPECT_EQ(bytes.get(), nullptr);
}

TEST(GuidTextTest, ParsesTheRegistryFormOnlyAndFormatsUpperCase) {
    const GUID provider = {0x33592D29, 0x4C1D, 0x4732, {0xA6, 0x07, 0xD0, 0x1A, 0x81, 0x21, 0x53, 0x85}};
    const WString good = KW("{33592D29-4C1D-4732-A607-D01A81215385}");
    // clang-format off
    const std::pair<WString, bool> kRows[] = {
        {good, true}, {KW("{33592d29-4c1d-4732-a607-d01a81215385}"), true}, {good.substr(1), false},
        {good.substr(0, 36) + KW("}"), false}, {good.substr(0, 36) + KW("G}"), false}, {KW(""), false},
        {KW("{33592D29-4C1D-4732-A607D01A81215385}"), false}, {KW("not a clsid"), false},
        {good.substr(0, 37), false}};
    // clang-format on
    ScopedApartment apartment;
    for (const auto& [text, parses] : kRows) {
        SCOPED_TRACE(Utf16ToUtf8(text));
        GUID parsed = provider;
        parsed.Data1 = 0xDEADBEEF;
        EXPECT_EQ(Succeeded(ParseGuid(text.c_str(), &parsed)), parses);
        EXPECT_TRUE(SameGuid(parsed, parses ? provider : kGuidNull));  // never half-parsed
    }
    EXPECT_EQ(GuidToString(provider), good);
    WChar exact[39] = {};
    EXPECT_EQ(FormatGuid(provider, exact, 38), 0);
    EXPECT_EQ(FormatGuid(provider, exact, 39), 39);
    EXPECT_EQ(WString(exact), GuidToString(provider));
}

}  // namespace
}  // namespace korva::com
