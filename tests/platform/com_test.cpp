// The COM basics: reference counting of ComObject and ComPtr, QueryInterface over interface chains, the task
// allocator's failure hook and wiping holders, GUID text, and CreateInstance through a registered factory.
// Under Wine the same tests run against ole32.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/com.h"

namespace korva::com {
namespace {

// Two interfaces of the tests' own, one deriving from the other, and an unrelated third.
KORVA_COM_INTERFACES_BEGIN
struct IShape : IUnknown {
    static constexpr IID kIid = {0x5A0C1E01, 0x0001, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0x01}};
    using Base = IUnknown;
    virtual int KORVA_COM_CALL Corners() = 0;

  protected:
    ~IShape() = default;
};
struct ISquare : IShape {
    static constexpr IID kIid = {0x5A0C1E01, 0x0002, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0x02}};
    using Base = IShape;
    virtual int KORVA_COM_CALL Side() = 0;

  protected:
    ~ISquare() = default;
};
struct IColour : IUnknown {
    static constexpr IID kIid = {0x5A0C1E01, 0x0003, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0x03}};
    using Base = IUnknown;
    virtual int KORVA_COM_CALL Red() = 0;

  protected:
    ~IColour() = default;
};
KORVA_COM_INTERFACES_END

// Counts live squares so a test sees whether the last Release destroyed the object.
int g_liveSquares = 0;

class Square final : public ComObject<ISquare> {
  public:
    Square() { ++g_liveSquares; }
    int KORVA_COM_CALL Corners() override { return 4; }
    int KORVA_COM_CALL Side() override { return 3; }
    ULONG Count() const { return ReferenceCount(); }

  private:
    ~Square() override { --g_liveSquares; }
};

class ColouredSquare final : public ComObject<ISquare, IColour> {
  public:
    int KORVA_COM_CALL Corners() override { return 4; }
    int KORVA_COM_CALL Side() override { return 5; }
    int KORVA_COM_CALL Red() override { return 255; }
};

TEST(ComObjectTest, QueryInterfaceAnswersTheInterfacesAndTheirBases) {
    struct Row {
        const char* name;
        IID iid;
        bool answered;
    };
    const Row rows[] = {
        {"IUnknown", kIidIUnknown, true},
        {"the base interface", IShape::kIid, true},
        {"the interface itself", ISquare::kIid, true},
        {"an interface it lacks", IColour::kIid, false},
        {"IClassFactory", kIidIClassFactory, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto* square = new Square();
        void* out = reinterpret_cast<void*>(0x1);
        const HRESULT hr = square->QueryInterface(row.iid, &out);
        if (row.answered) {
            // A success hands out one more reference.
            EXPECT_EQ(hr, kSOk);
            EXPECT_NE(out, nullptr);
            EXPECT_EQ(square->Count(), 2u);
            static_cast<IUnknown*>(out)->Release();
        } else {
            // A refusal clears the out-pointer and adds no reference.
            EXPECT_EQ(hr, kENoInterface);
            EXPECT_EQ(out, nullptr);
            EXPECT_EQ(square->Count(), 1u);
        }
        EXPECT_EQ(square->Release(), 0u);
    }
    EXPECT_EQ(g_liveSquares, 0);
}

TEST(ComObjectTest, NullOutPointerIsAnInvalidArgument) {
    auto* square = new Square();
    EXPECT_EQ(square->QueryInterface(ISquare::kIid, nullptr), kEInvalidArg);
    EXPECT_EQ(square->Count(), 1u);
    square->Release();
}

TEST(ComObjectTest, EachInterfaceOfSeveralReachesTheSameObject) {
    auto* object = new ColouredSquare();
    ComPtr<IColour> colour;
    ComPtr<ISquare> square = ComPtr<ISquare>::Attach(object);
    ASSERT_EQ(square.As(&colour), kSOk);
    EXPECT_EQ(colour->Red(), 255);
    ComPtr<IUnknown> fromColour;
    ComPtr<IUnknown> fromSquare;
    ASSERT_EQ(colour.As(&fromColour), kSOk);
    ASSERT_EQ(square.As(&fromSquare), kSOk);
    // COM identity: IUnknown is the same pointer whichever interface it was asked through.
    EXPECT_EQ(fromColour.get(), fromSquare.get());
}

TEST(ComObjectTest, ReleaseDestroysAtZeroAndReturnsTheNewCount) {
    auto* square = new Square();
    EXPECT_EQ(square->AddRef(), 2u);
    EXPECT_EQ(square->AddRef(), 3u);
    EXPECT_EQ(square->Release(), 2u);
    EXPECT_EQ(square->Release(), 1u);
    EXPECT_EQ(g_liveSquares, 1);
    EXPECT_EQ(square->Release(), 0u);
    EXPECT_EQ(g_liveSquares, 0);
}

TEST(ComPtrTest, ReferenceCountsThroughEachOperation) {
    auto* raw = new Square();  // count 1: the creator's reference
    {
        ComPtr<ISquare> owner = ComPtr<ISquare>::Attach(raw);
        EXPECT_EQ(raw->Count(), 1u);
        ComPtr<ISquare> copied = owner;
        EXPECT_EQ(raw->Count(), 2u);
        ComPtr<ISquare> moved = std::move(copied);
        EXPECT_EQ(raw->Count(), 2u);
        EXPECT_FALSE(copied);
        ComPtr<ISquare> added = ComPtr<ISquare>::Copy(raw);
        EXPECT_EQ(raw->Count(), 3u);
        added = owner;  // assigning the same object keeps the count
        EXPECT_EQ(raw->Count(), 3u);
        ComPtr<IShape> shape;
        ASSERT_EQ(owner.As(&shape), kSOk);
        EXPECT_EQ(raw->Count(), 4u);
        EXPECT_EQ(shape->Corners(), 4);
        ISquare* handedOut = nullptr;
        ASSERT_EQ(owner.CopyTo(&handedOut), kSOk);
        EXPECT_EQ(raw->Count(), 5u);
        handedOut->Release();
        moved.reset();
        EXPECT_EQ(raw->Count(), 3u);
    }
    EXPECT_EQ(g_liveSquares, 0);
}

TEST(ComPtrTest, PutReleasesTheHeldObjectBeforeExposingTheSlot) {
    ComPtr<ISquare> holder = ComPtr<ISquare>::Attach(new Square());
    EXPECT_EQ(g_liveSquares, 1);
    ISquare** slot = holder.put();
    // The old object is gone before anyone writes into the slot, and the slot is empty.
    EXPECT_EQ(g_liveSquares, 0);
    EXPECT_EQ(*slot, nullptr);
    *slot = new Square();
    EXPECT_EQ(holder->Side(), 3);
}

TEST(ComPtrTest, AsOnAnEmptyPointerFailsAndEmptiesTheTarget) {
    ComPtr<ISquare> empty;
    ComPtr<IShape> target = ComPtr<IShape>::Attach(new Square());
    EXPECT_EQ(empty.As(&target), kEPointer);
    EXPECT_FALSE(target);
    EXPECT_EQ(g_liveSquares, 0);
}

TEST(ComPtrTest, DetachHandsTheReferenceOver) {
    ComPtr<ISquare> holder = ComPtr<ISquare>::Attach(new Square());
    ISquare* raw = holder.detach();
    EXPECT_FALSE(holder);
    EXPECT_EQ(g_liveSquares, 1);
    EXPECT_EQ(raw->Release(), 0u);
}

TEST(TaskMemoryTest, DupStringCopiesOrFailsCleanly) {
    WChar* copy = nullptr;
    ASSERT_EQ(DupString(KW("Forgot my password..."), &copy), kSOk);
    TaskString owned(copy);
    EXPECT_EQ(WString(owned.get()), WString(KW("Forgot my password...")));

    // A null source, a missing out-pointer and a failed allocation each leave nothing behind.
    WChar* out = reinterpret_cast<WChar*>(0x1);
    EXPECT_EQ(DupString(nullptr, &out), kEInvalidArg);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(DupString(KW("x"), nullptr), kEInvalidArg);
    {
        ScopedAllocationFailure failure(0);
        out = reinterpret_cast<WChar*>(0x1);
        EXPECT_EQ(DupString(KW("x"), &out), kEOutOfMemory);
        EXPECT_EQ(out, nullptr);
        EXPECT_TRUE(failure.Triggered());
    }
}

TEST(TaskMemoryTest, AllocationFailureHitsExactlyTheNthAllocation) {
    for (int nth = 0; nth < 4; ++nth) {
        SCOPED_TRACE(nth);
        ScopedAllocationFailure failure(nth);
        std::vector<bool> succeeded;
        for (int i = 0; i < 5; ++i) {
            void* block = TaskAlloc(8);
            succeeded.push_back(block != nullptr);
            TaskFree(block);
        }
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(succeeded[static_cast<size_t>(i)], i != nth) << "allocation " << i;
        }
    }
    // Once the guard is gone allocations succeed again.
    void* block = TaskAlloc(8);
    EXPECT_NE(block, nullptr);
    TaskFree(block);
    Square* object = MakeObject<Square>();
    ASSERT_NE(object, nullptr);
    object->Release();
    {
        ScopedAllocationFailure failure(0);
        EXPECT_EQ(MakeObject<Square>(), nullptr);
    }
}

// Records what each freed block held at the moment it was freed.
struct FreedBlocks {
    std::vector<std::vector<uint8_t>> contents;
    size_t bytesToCopy = 0;
    static void Observe(const void* memory, void* context) {
        auto* self = static_cast<FreedBlocks*>(context);
        const auto* bytes = static_cast<const uint8_t*>(memory);
        self->contents.emplace_back(bytes, bytes + self->bytesToCopy);
    }
};

TEST(TaskMemoryTest, SecureHoldersWipeBeforeFreeingAndPlainOnesDoNot) {
    const WString secret = KW("Secret-Pa55");
    const size_t secretBytes = (secret.size() + 1) * sizeof(WChar);
    struct Row {
        const char* name;
        bool wipes;
        void (*release)(const WString& secret);
    };
    const Row rows[] = {
        {"SecureTaskString", true,
         [](const WString& text) {
             WChar* copy = nullptr;
             ASSERT_EQ(DupString(text.c_str(), &copy), kSOk);
             SecureTaskString holder(copy);
         }},
        {"SecureTaskBytes", true,
         [](const WString& text) {
             SecureTaskBytes bytes;
             ASSERT_TRUE(bytes.CopyFrom(text.c_str(), (text.size() + 1) * sizeof(WChar)));
         }},
        {"TaskString", false,
         [](const WString& text) {
             WChar* copy = nullptr;
             ASSERT_EQ(DupString(text.c_str(), &copy), kSOk);
             TaskString holder(copy);
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FreedBlocks freed;
        freed.bytesToCopy = secretBytes;
        {
            ScopedTaskFreeObserver observer(&FreedBlocks::Observe, &freed);
            row.release(secret);
        }
        ASSERT_EQ(freed.contents.size(), 1u);
        const std::vector<uint8_t> zeros(secretBytes, 0);
        if (row.wipes) {
            EXPECT_EQ(freed.contents[0], zeros);
        } else {
            EXPECT_EQ(std::memcmp(freed.contents[0].data(), secret.c_str(), secretBytes), 0);
        }
    }
}

TEST(TaskMemoryTest, SecureBytesOfSizeZeroOwnNothing) {
    SecureTaskBytes bytes;
    EXPECT_TRUE(bytes.CopyFrom("x", 0));
    EXPECT_EQ(bytes.get(), nullptr);
    EXPECT_EQ(bytes.size(), 0u);
    ScopedAllocationFailure failure(0);
    EXPECT_FALSE(bytes.CopyFrom("abc", 3));
    EXPECT_EQ(bytes.get(), nullptr);
}

TEST(GuidTextTest, ParsesTheRegistryFormOnly) {
    const GUID provider = {0x33592D29, 0x4C1D, 0x4732, {0xA6, 0x07, 0xD0, 0x1A, 0x81, 0x21, 0x53, 0x85}};
    struct Row {
        const WChar* text;
        bool parses;
    };
    const Row rows[] = {
        {KW("{33592D29-4C1D-4732-A607-D01A81215385}"), true},
        {KW("{33592d29-4c1d-4732-a607-d01a81215385}"), true},
        {KW("33592D29-4C1D-4732-A607-D01A81215385"), false},
        {KW("{33592D29-4C1D-4732-A607-D01A8121538}"), false},
        {KW("{33592D29-4C1D-4732-A607D01A81215385}"), false},
        {KW("{33592D29-4C1D-4732-A607-D01A8121538G}"), false},
        {KW("{33592D29-4C1D-4732-A607-D01A81215385"), false},
        {KW("not a clsid"), false},
        {KW(""), false},
    };
    ScopedApartment apartment;
    for (const Row& row : rows) {
        SCOPED_TRACE(Utf16ToUtf8(row.text));
        GUID parsed = provider;
        parsed.Data1 = 0xDEADBEEF;
        const HRESULT hr = ParseGuid(row.text, &parsed);
        if (row.parses) {
            EXPECT_EQ(hr, kSOk);
            EXPECT_TRUE(SameGuid(parsed, provider));
        } else {
            // A text that is not a CLSID never leaves a half-parsed value behind.
            EXPECT_TRUE(Failed(hr));
            EXPECT_TRUE(SameGuid(parsed, kGuidNull));
        }
    }
}

TEST(GuidTextTest, FormatsUpperCaseWithBracesAndRoundTrips) {
    const GUID filter = {0x2C766AE5, 0x77FB, 0x4726, {0x9B, 0xD4, 0x64, 0x6E, 0xBB, 0x77, 0xF0, 0xEC}};
    EXPECT_EQ(GuidToString(filter), WString(KW("{2C766AE5-77FB-4726-9BD4-646EBB77F0EC}")));
    WChar small[38] = {};
    EXPECT_EQ(FormatGuid(filter, small, 38), 0);
    WChar exact[39] = {};
    EXPECT_EQ(FormatGuid(filter, exact, 39), 39);
    GUID back = kGuidNull;
    ASSERT_EQ(ParseGuid(exact, &back), kSOk);
    EXPECT_TRUE(SameGuid(back, filter));
}

// A class factory that makes squares and counts what it made.
class SquareFactory final : public ComObject<IClassFactory> {
  public:
    HRESULT KORVA_COM_CALL CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        *ppv = nullptr;
        if (outer != nullptr) {
            return kClassENoAggregation;
        }
        auto* square = new Square();
        const HRESULT hr = square->QueryInterface(riid, ppv);
        square->Release();
        ++made;
        return hr;
    }
    HRESULT KORVA_COM_CALL LockServer(BOOL /*lock*/) override { return kSOk; }
    int made = 0;
};

TEST(CreateInstanceTest, FindsARegisteredFactoryUntilItIsRevoked) {
    const CLSID clsid = {0x5A0C1E01, 0x00FF, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0xFF}};
    ScopedApartment apartment;
    ASSERT_TRUE(Succeeded(apartment.Result()));
    ComPtr<SquareFactory> factory = ComPtr<SquareFactory>::Attach(new SquareFactory());
    {
        ScopedClassFactoryRegistration registration(clsid, factory.get());
        ASSERT_EQ(registration.Result(), kSOk);
        ComPtr<ISquare> square;
        ASSERT_EQ(CreateInstance(clsid, nullptr, kClsctxAll, ISquare::kIid, square.put_void()), kSOk);
        EXPECT_EQ(square->Side(), 3);
        ComPtr<IColour> colour;
        EXPECT_EQ(CreateInstance(clsid, nullptr, kClsctxAll, IColour::kIid, colour.put_void()),
                  kENoInterface);
        EXPECT_FALSE(colour);
        EXPECT_EQ(factory->made, 2);
    }
    ComPtr<ISquare> square;
    EXPECT_EQ(CreateInstance(clsid, nullptr, kClsctxAll, ISquare::kIid, square.put_void()),
              kRegdbEClassNotReg);
    EXPECT_FALSE(square);
    EXPECT_EQ(g_liveSquares, 0);
}

}  // namespace
}  // namespace korva::com
