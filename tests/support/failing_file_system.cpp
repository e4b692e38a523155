#include "tests/support/failing_file_system.h"

#include <gtest/gtest.h>

#include "platform/result_codes.h"

namespace korva::testing {
namespace {

using Op = FailingFileSystem::Op;

// Returns the fault's code when one is due for `op`, else the result of `call`. A faulted read or write
// moves no bytes; a faulted close leaves the file open until its object goes.
template <typename Call>
int32_t Pass(FailingFileSystem& owner, Op op, WStringView path, uint32_t* moved, Call call) {
    int32_t code = 0;
    if (!owner.TakeFault(op, path, &code)) {
        return call();
    }
    if (moved != nullptr) {
        *moved = 0;
    }
    return code;
}

class FailingFile final : public platform::File {
  public:
    FailingFile(FailingFileSystem& owner, WString path, std::unique_ptr<platform::File> inner)
        : owner_(owner), path_(std::move(path)), inner_(std::move(inner)) {}
    ~FailingFile() override { owner_.FileClosed(); }

    [[nodiscard]] int32_t Read(void* buffer, uint32_t size, uint32_t* read) override {
        return Pass(owner_, Op::Read, path_, read, [&] { return inner_->Read(buffer, size, read); });
    }
    [[nodiscard]] int32_t Write(const void* data, uint32_t size, uint32_t* written) override {
        return Pass(owner_, Op::Write, path_, written, [&] { return inner_->Write(data, size, written); });
    }
    [[nodiscard]] int32_t GetSize(uint64_t* size) override {
        return Pass(owner_, Op::GetSize, path_, nullptr, [&] { return inner_->GetSize(size); });
    }
    [[nodiscard]] int32_t Seek(int64_t offset, platform::SeekOrigin origin, uint64_t* at) override {
        return Pass(owner_, Op::Seek, path_, nullptr, [&] { return inner_->Seek(offset, origin, at); });
    }
    [[nodiscard]] int32_t SetEnd() override {
        return Pass(owner_, Op::SetEnd, path_, nullptr, [&] { return inner_->SetEnd(); });
    }
    [[nodiscard]] int32_t Close() override {
        return Pass(owner_, Op::Close, path_, nullptr, [&] { return inner_->Close(); });
    }

  private:
    FailingFileSystem& owner_;
    WString path_;
    std::unique_ptr<platform::File> inner_;
};

}  // namespace

FailingFileSystem::FailingFileSystem() : inner_(platform::Files()), override_(this) {}

FailingFileSystem::~FailingFileSystem() {
    platform::LockGuard guard(lock_);
    EXPECT_TRUE(faults_.empty()) << faults_.size()
                                 << " injected file fault(s) never met, the first for operation "
                                 << static_cast<int>(faults_.front().op);
    EXPECT_EQ(openFiles_, 0) << "files left open";
}

void FailingFileSystem::FailNext(Op op, int32_t code, WStringView match, int skip) {
    platform::LockGuard guard(lock_);
    faults_.push_back(Fault{op, code, AsciiLower(match), skip});
}

int FailingFileSystem::Calls(Op op) const {
    platform::LockGuard guard(lock_);
    return calls_[static_cast<int>(op)];
}

bool FailingFileSystem::TakeFault(Op op, WStringView path, int32_t* code) {
    platform::LockGuard guard(lock_);
    ++calls_[static_cast<int>(op)];
    const WString lowerPath = AsciiLower(path);
    for (auto it = faults_.begin(); it != faults_.end(); ++it) {
        if (it->op == op && lowerPath.find(it->match) != WString::npos) {
            if (it->skip > 0) {
                --it->skip;
                return false;
            }
            *code = it->code;
            faults_.erase(it);
            return true;
        }
    }
    return false;
}

void FailingFileSystem::FileClosed() {
    platform::LockGuard guard(lock_);
    --openFiles_;
}

int32_t FailingFileSystem::Open(const WChar* path, uint32_t access, uint32_t share,
                                platform::Disposition disposition, std::unique_ptr<platform::File>* out) {
    out->reset();
    std::unique_ptr<platform::File> file;
    const WString name = path != nullptr ? WString(path) : WString();
    const int32_t result = Pass(*this, Op::Open, name, nullptr,
                                [&] { return inner_.Open(path, access, share, disposition, &file); });
    if (file != nullptr) {
        platform::LockGuard guard(lock_);
        ++openFiles_;
        *out = std::make_unique<FailingFile>(*this, name, std::move(file));
    }
    return result;
}

}  // namespace korva::testing
