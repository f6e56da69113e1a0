// A scripted operating system for the pass-through tests: device nodes, their kernel addresses, and a
// handler that answers each SG_IO. Records every call, so tests can check opens, closes and requests.
#pragma once

#include <cerrno>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "drive/os/TSgOs.h"

namespace brenwick {

class TFakeSgOs : public TSgOs {
  public:
    struct TNode {
        TScsiAddress address;
        std::vector<std::uint8_t> inquiry;  // the answer to INQUIRY at scan time
        int openError = 0;                  // errno for every open (0: opens)
        int readWriteOpenError = 0;         // errno for read-write opens only
        int addressError = 0;
        int exclusiveOpenError = 0;  // errno for exclusive opens only (EBUSY: mounted or held elsewhere)
        // Answers every SG_IO but INQUIRY; returns the ioctl's errno (0: the call worked).
        std::function<int(TSgIo&)> handler;
    };

    struct TCall {
        std::string path;
        std::vector<std::uint8_t> cdb;
        TDataDirection direction = TDataDirection::None;
        std::uint32_t dataLength = 0;
        std::uint8_t senseCapacity = 0;
        unsigned timeoutMs = 0;
    };

    std::map<std::string, TNode> nodes;
    std::vector<TCall> calls;
    std::vector<std::string> opens;
    int openFds = 0;

    bool IsOpticalNode(const std::string& path) override { return nodes.count(path) != 0; }

    int Open(const std::string& path, bool readWrite, int& error) override {
        opens.push_back(path + (readWrite ? " rw" : " ro"));
        auto it = nodes.find(path);
        if (it == nodes.end()) {
            error = ENOENT;
            return -1;
        }
        error = it->second.openError ? it->second.openError : (readWrite ? it->second.readWriteOpenError : 0);
        if (error) return -1;
        const int fd = m_nextFd++;
        m_fdPath[fd] = path;
        ++openFds;
        return fd;
    }

    int OpenExclusive(const std::string& path, int& error) override {
        auto it = nodes.find(path);
        if (it != nodes.end() && it->second.exclusiveOpenError != 0) {
            opens.push_back(path + " excl");
            error = it->second.exclusiveOpenError;
            return -1;
        }
        const int fd = Open(path, true, error);
        if (fd >= 0) opens.back() += " excl";
        return fd;
    }

    void Close(int fd) override {
        if (m_fdPath.erase(fd)) --openFds;
    }

    int SgIo(int fd, TSgIo& io) override {
        auto it = m_fdPath.find(fd);
        if (it == m_fdPath.end()) return EBADF;
        auto& node = nodes[it->second];
        calls.push_back({it->second, std::vector<std::uint8_t>(io.cdb.begin(), io.cdb.end()), io.direction,
                         io.dataLength, io.senseCapacity, io.timeoutMs});
        if (!io.cdb.empty() && io.cdb[0] == 0x12) {  // the scan's INQUIRY
            std::memcpy(io.data, node.inquiry.data(),
                        std::min<std::size_t>(node.inquiry.size(), io.dataLength));
            return 0;
        }
        if (!node.handler) return 0;
        return node.handler(io);
    }

    int GetAddress(int fd, TScsiAddress& address) override {
        auto it = m_fdPath.find(fd);
        if (it == m_fdPath.end()) return EBADF;
        const auto& node = nodes[it->second];
        if (node.addressError) return node.addressError;
        address = node.address;
        return 0;
    }

    // A standard INQUIRY answer of a recorder: peripheral type, vendor, product, revision.
    static std::vector<std::uint8_t> InquiryAnswer(std::uint8_t type, const std::string& vendor,
                                                   const std::string& product, const std::string& revision) {
        std::vector<std::uint8_t> data(96, 0);
        data[0] = type;
        data[1] = 0x80;
        data[3] = 0x02;
        data[4] = 91;
        auto put = [&data](std::size_t offset, const std::string& text, std::size_t width) {
            for (std::size_t i = 0; i < width; ++i) data[offset + i] = i < text.size() ? text[i] : ' ';
        };
        put(8, vendor, 8);
        put(16, product, 16);
        put(32, revision, 4);
        for (std::size_t i = 36; i < 96; ++i) data[i] = std::uint8_t(0xA0 + i % 16);
        return data;
    }

  private:
    std::map<int, std::string> m_fdPath;
    int m_nextFd = 100;
};

}  // namespace brenwick
