#include "tests/support/failing_file_system.h"

#include <gtest/gtest.h>

#include "platform/result_codes.h"

namespace korva::testing {
namespace {

using Op = FailingFileSystem::Op;

class FailingFile final : public platform::File {
  public:
    FailingFile(FailingFileSystem& owner, WString path, std::unique_ptr<platform::File> inner)
        : owner_(owner), path_(std::move(path)), inner_(std::move(inner)) {}
    ~FailingFile() override { owner_.FileClosed(); }

    [[nodiscard]] int32_t Read(void* buffer, uint32_t size, uint32_t* read) override {
        int32_t code = 0;
        if (owner_.TakeFault(Op::Read, path_, &code)) {
            *read = 0;
            return code;
        }
        return inner_->Read(buffer, size, read);
    }
    [[nodiscard]] int32_t Write(const void* data, uint32_t size, uint32_t* written) override {
        int32_t code = 0;
        if (owner_.TakeFault(Op::Write, path_, &code)) {
            *written = 0;
            return code;
        }
        return inner_->Write(data, size, written);
    }
    [[nodiscard]] int32_t GetSize(uint64_t* size) override {
        int32_t code = 0;
        return owner_.TakeFault(Op::GetSize, path_, &code) ? code : inner_->GetSize(size);
    }
    [[nodiscard]] int32_t Seek(int64_t offset, platform::SeekOrigin origin, uint64_t* newPosition) override {
        int32_t code = 0;
        return owner_.TakeFault(Op::Seek, path_, &code) ? code : inner_->Seek(offset, origin, newPosition);
    }
    [[nodiscard]] int32_t SetEnd() override {
        int32_t code = 0;
        return owner_.TakeFault(Op::SetEnd, path_, &code) ? code : inner_->SetEnd();
    }
    // A failed close leaves the file open; it is closed for real when this object goes.
    [[nodiscard]] int32_t Close() override {
        int32_t code = 0;
        return owner_.TakeFault(Op::Close, path_, &code) ? code : inner_->Close();
    }

  private:
    FailingFileSystem& owner_;
    WString path_;
    std::unique_ptr<platform::File> inner_;
};

}  // namespace

FailingFileSystem::FailingFileSystem() : inner_(platform::Files()), override_(this) {}

FailingFileSystem::~FailingFileSystem() {
    if (checks_) {
        platform::LockGuard guard(lock_);
        EXPECT_TRUE(faults_.empty()) << faults_.size()
                                     << " injected file fault(s) never met, the first for operation "
                                     << static_cast<int>(faults_.front().op);
        EXPECT_EQ(openFiles_, 0) << "files left open";
    }
}

void FailingFileSystem::FailNext(Op op, int32_t code, WStringView match, int skip) {
    platform::LockGuard guard(lock_);
    faults_.push_back(Fault{op, code, AsciiLower(match), skip});
}

int FailingFileSystem::Calls(Op op) const {
    platform::LockGuard guard(lock_);
    return calls_[static_cast<int>(op)];
}

int FailingFileSystem::OpenFiles() const {
    platform::LockGuard guard(lock_);
    return openFiles_;
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
    const WStringView name = path != nullptr ? WStringView(path) : WStringView();
    int32_t code = 0;
    if (TakeFault(Op::Open, name, &code)) {
        out->reset();
        return code;
    }
    std::unique_ptr<platform::File> file;
    const int32_t result = inner_.Open(path, access, share, disposition, &file);
    if (result != winerr::kSuccess) {
        out->reset();
        return result;
    }
    {
        platform::LockGuard guard(lock_);
        ++openFiles_;
    }
    *out = std::make_unique<FailingFile>(*this, WString(name), std::move(file));
    return winerr::kSuccess;
}

int32_t FailingFileSystem::Delete(const WChar* path) {
    int32_t code = 0;
    return TakeFault(Op::Delete, path != nullptr ? WStringView(path) : WStringView(), &code)
               ? code
               : inner_.Delete(path);
}

int32_t FailingFileSystem::MakeTempDirectory(WString* path) {
    int32_t code = 0;
    return TakeFault(Op::MakeTempDirectory, WStringView(), &code) ? code : inner_.MakeTempDirectory(path);
}

int32_t FailingFileSystem::RemoveDirectoryTree(const WChar* path) {
    int32_t code = 0;
    return TakeFault(Op::RemoveDirectoryTree, path != nullptr ? WStringView(path) : WStringView(), &code)
               ? code
               : inner_.RemoveDirectoryTree(path);
}

}  // namespace korva::testing
