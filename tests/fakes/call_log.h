#pragma once

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace focusprobe::testing {

// What the flow asked of the fake desktop, in order, one readable entry per call
// ("ax.copy window AXRole", "sleep 100000"), shared by every fake of one desktop.
struct CallLog {
    std::vector<std::string> entries;

    void add(std::string entry) { entries.push_back(std::move(entry)); }

    [[nodiscard]] long count(std::string_view entry) const { return std::count(entries.begin(), entries.end(), entry); }

    [[nodiscard]] long countPrefix(std::string_view prefix) const
    {
        return std::count_if(entries.begin(), entries.end(),
            [&](const std::string& e) { return std::string_view(e).starts_with(prefix); });
    }

    // The entries that start with one of the prefixes, in order.
    [[nodiscard]] std::vector<std::string> filtered(std::initializer_list<std::string_view> prefixes) const
    {
        std::vector<std::string> out;
        for (const auto& e : entries) {
            for (const auto prefix : prefixes) {
                if (std::string_view(e).starts_with(prefix)) {
                    out.push_back(e);
                    break;
                }
            }
        }
        return out;
    }
};

} // namespace focusprobe::testing
