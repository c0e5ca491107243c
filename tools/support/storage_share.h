#pragma once

#include <cstdint>
#include <string>

// How the database's quota is shared by address groups (AddressGroup: a /24 for IPv4, a /64
// for IPv6). A group may hold at most
//     max(quota / 256, (quota - used) / 8)
// bytes of reports, where `used` is what the database and its -wal file take now: the first
// group may take an eighth of what is free, and the share shrinks as the quota fills, so a
// few groups filling storage stop long before it is full, while a group that holds less than
// quota / 256 can always add until the whole quota is used.
std::int64_t GroupShare(std::int64_t quota, std::int64_t used);

// The bytes a report is charged to its group: its body and address, and a row's overhead.
std::int64_t ReportBytes(const std::string& body, const std::string& address);
