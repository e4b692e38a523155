#include "tests/support/failing_file_system.h"

#include <gtest/gtest.h>

namespace korva::testing {

// The fault's code when it is due for `op`, else what `call` returns.
template <typename Call>
int32_t FailingFileSystem::Pass(Op op, uint32_t* moved, Call call) {
    ++calls_[static_cast<int>(op)];
    platform::LockGuard guard(lock_);
    if (skip_ < 0 || op != op_ || skip_-- != 0)
        return call();
    if (moved != nullptr)
        *moved = 0;
    return code_;
}

// A faulted close leaves the file open until its object goes.
class FailingFileSystem::FailingFile final : public platform::File {
  public:
    FailingFile(FailingFileSystem& owner, std::unique_ptr<platform::File> inner)
        : owner_(owner), inner_(std::move(inner)) {
        ++owner_.openFiles_;
    }
    ~FailingFile() override { --owner_.openFiles_; }

    [[nodiscard]] int32_t Read(void* buffer, uint32_t size, uint32_t* read) override {
        return owner_.Pass(Op::Read, read, [&] { return inner_->Read(buffer, size, read); });
    }
    [[nodiscard]] int32_t Write(const void* data, uint32_t size, uint32_t* written) override {
        return owner_.Pass(Op::Write, written, [&] { return inner_->Write(data, size, written); });
    }
    [[nodiscard]] int32_t GetSize(uint64_t* size) override {
        return owner_.Pass(Op::GetSize, nullptr, [&] { return inner_->GetSize(size); });
    }
    [[nodiscard]] int32_t Seek(int64_t offset, platform::SeekOrigin origin, uint64_t* at) override {
        return owner_.Pass(Op::Seek, nullptr, [&] { return inner_->Seek(offset, origin, at); });
    }
    [[nodiscard]] int32_t SetEnd() override {
        return owner_.Pass(Op::SetEnd, nullptr, [&] { return inner_->SetEnd(); });
    }
    [[nodiscard]] int32_t Close() override {
        return owner_.Pass(Op::Close, nullptr, [&] { return inner_->Close(); });
    }

  private:
    FailingFileSystem& owner_;
    std::unique_ptr<platform::File> inner_;
};

FailingFileSystem::~FailingFileSystem() {
    EXPECT_LT(skip_, 0) << "the injected fault for operation " << static_cast<int>(op_) << " was never met";
    EXPECT_EQ(openFiles_.load(), 0) << "files left open";
}

void FailingFileSystem::FailNext(Op op, int32_t code, int skip) {
    platform::LockGuard guard(lock_);
    op_ = op;
    code_ = code;
    skip_ = skip;
}

int32_t FailingFileSystem::Open(const WChar* path, uint32_t access, uint32_t share,
                                platform::Disposition disposition, std::unique_ptr<platform::File>* out) {
    out->reset();
    std::unique_ptr<platform::File> file;
    const int32_t result =
        Pass(Op::Open, nullptr, [&] { return inner_.Open(path, access, share, disposition, &file); });
    if (file != nullptr)
        *out = std::make_unique<FailingFile>(*this, std::move(file));
    return result;
}

}  // namespace korva::testing
