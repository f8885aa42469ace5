// Extended attributes copied through descriptors.
#include "engine/xattrs.h"

#include <sys/xattr.h>

#include <array>
#include <cerrno>
#include <string_view>

namespace mivex {

namespace {

constexpr std::string_view kAccessAcl = "system.posix_acl_access";
constexpr std::string_view kDefaultAcl = "system.posix_acl_default";
constexpr std::string_view kCapability = "security.capability";

bool inStage(std::string_view name, XattrStage stage) {
    switch (stage) {
        case XattrStage::FolderOpened:
            return name != kAccessAcl;
        case XattrStage::FolderFilled:
            return name == kAccessAcl;
        case XattrStage::FileBeforeOwner:
            return name != kCapability;
        case XattrStage::FileAfterOwner:
            return name == kCapability;
    }
    return false;
}

// The ACL whose absence at the source a stage carries over to the copy.
std::string_view settledAcl(XattrStage stage) {
    switch (stage) {
        case XattrStage::FolderOpened:
            return kDefaultAcl;
        case XattrStage::FolderFilled:
        case XattrStage::FileBeforeOwner:
            return kAccessAcl;
        case XattrStage::FileAfterOwner:
            break;
    }
    return {};
}

// Whether a refusal to set `name` is one the copy goes on without (CopyOptions says which).
bool tolerated(std::string_view name, int err, const CopyOptions& options) {
    if (err == ENOTSUP) {
        return options.skipUnsupportedXattrs;
    }
    if (err == EPERM) {
        return options.skipPrivilegedXattrs &&
               (name.starts_with("trusted.") || name.starts_with("security."));
    }
    return false;
}

// One attribute's value; ENODATA when it went away since it was listed.
int readValue(int fd, const char* name, std::string& value) {
    // Most values (ACLs, capabilities, short user attributes) fit a small first try.
    std::array<char, 256> small;
    ssize_t n = ::fgetxattr(fd, name, small.data(), small.size());
    if (n >= 0) {
        value.assign(small.data(), static_cast<std::size_t>(n));
        return 0;
    }
    while (errno == ERANGE) {
        n = ::fgetxattr(fd, name, nullptr, 0);
        if (n < 0) {
            break;
        }
        value.resize(static_cast<std::size_t>(n));
        n = ::fgetxattr(fd, name, value.data(), value.size());
        if (n >= 0) {
            value.resize(static_cast<std::size_t>(n));
            return 0;
        }
    }
    return errno;
}

}  // namespace

int Xattrs::read(int fd) {
    mList.clear();
    // One call answers for the common item without attributes; a longer list is asked for again
    // at its size, and again if it grew meanwhile.
    std::string names(1024, '\0');
    ssize_t n = ::flistxattr(fd, names.data(), names.size());
    while (n < 0 && errno == ERANGE) {
        n = ::flistxattr(fd, nullptr, 0);
        if (n >= 0) {
            names.resize(static_cast<std::size_t>(n));
            n = ::flistxattr(fd, names.data(), names.size());
        }
    }
    if (n < 0) {
        return errno == ENOTSUP ? 0 : errno;
    }
    names.resize(static_cast<std::size_t>(n));
    for (std::size_t at = 0; at < names.size();) {
        const std::string name = names.c_str() + at;
        at += name.size() + 1;
        std::string value;
        if (const int err = readValue(fd, name.c_str(), value); err == ENODATA) {
            continue;
        } else if (err != 0) {
            return err;
        }
        mList.emplace_back(name, std::move(value));
    }
    return 0;
}

bool Xattrs::has(std::string_view name) const {
    for (const auto& attribute : mList) {
        if (attribute.first == name) {
            return true;
        }
    }
    return false;
}

bool Xattrs::hasDefaultAcl() const {
    return has(kDefaultAcl);
}

bool hasDefaultAcl(int fd) {
    return ::fgetxattr(fd, std::string(kDefaultAcl).c_str(), nullptr, 0) >= 0;
}

int Xattrs::apply(int fd, XattrStage stage, const CopyOptions& options,
                  bool mayHaveInherited) const {
    if (!options.keepXattrs) {
        return 0;
    }
    const std::string_view acl = settledAcl(stage);
    bool aclSet = false;
    for (const auto& [name, value] : mList) {
        if (!inStage(name, stage)) {
            continue;
        }
        aclSet = aclSet || name == acl;
        if (::fsetxattr(fd, name.c_str(), value.data(), value.size(), 0) != 0) {
            if (const int err = errno; !tolerated(name, err, options)) {
                return err;
            }
        }
    }
    if (acl.empty() || aclSet || !mayHaveInherited) {
        return 0;
    }
    // Looked for first: removing an absent ACL costs some filesystems a journal transaction.
    const std::string aclName(acl);
    if (::fgetxattr(fd, aclName.c_str(), nullptr, 0) < 0) {
        return errno == ENODATA || errno == ENOTSUP ? 0 : errno;
    }
    if (::fremovexattr(fd, aclName.c_str()) != 0 && errno != ENODATA) {
        return errno;
    }
    return 0;
}

}  // namespace mivex
