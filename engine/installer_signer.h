#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>
#include <spdlog/logger.h>

class HeldFile;

// The optional `signer` member of an installer entry: the simple display name its
// Authenticode signature must carry. None when absent or null; another type throws
// nlohmann::json::type_error (a document fault, before anything is downloaded).
std::optional<std::string> ExpectedSigner(const nlohmann::json& entry);

// Whether the downloaded and held installer at `target` may start: always without a
// signer; with one, only when its signature is valid, trusted and by that signer
// (revocation that cannot be checked is logged only). A refused installer is closed and
// removed, and `outcome` says why, for the row's record.
bool SignerAllowsStart(HeldFile& installer, const std::filesystem::path& target,
                       const std::optional<std::string>& signer, std::string& outcome,
                       const std::shared_ptr<spdlog::logger>& logger);
