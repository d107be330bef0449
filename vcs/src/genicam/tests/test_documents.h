#pragma once
// Helpers of the engine tests: load a description from a text and capture the
// engine's log lines.

#include "genicam/genicam_doc.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace genicam_test {

inline std::unique_ptr<GenICam::impl::genicam_doc> load(std::string_view xml,
                                                         GenICam::impl::load_options options = {})
{
    auto doc = std::make_unique<GenICam::impl::genicam_doc>();
    EXPECT_TRUE(doc->load_xml(xml.data(), xml.size(), options)) << xml;
    return doc;
}

// A description with the given node elements under its root.
inline std::string description(std::string_view nodes)
{
    return std::string("<RegisterDescription ModelName=\"M\" VendorName=\"V\">") + std::string(nodes) +
           "</RegisterDescription>";
}

inline std::unique_ptr<GenICam::impl::genicam_doc> load_nodes(std::string_view nodes,
                                                               GenICam::impl::load_options options = {})
{
    return load(description(nodes), options);
}

// The engine writes its log to standard output.
class log_capture {
public:
    log_capture() { testing::internal::CaptureStdout(); }
    // Failure reports written while capturing are shown again.
    ~log_capture()
    {
        if (!taken_) {
            const std::string captured = testing::internal::GetCapturedStdout();
            if (testing::Test::HasFailure()) {
                std::fputs(captured.c_str(), stdout);
            }
        }
    }
    std::string text()
    {
        taken_ = true;
        std::string captured = testing::internal::GetCapturedStdout();
        if (testing::Test::HasFailure()) {
            std::fputs(captured.c_str(), stdout);
        }
        return captured;
    }

private:
    bool taken_ = false;
};

inline std::size_t count_of(const std::string& text, std::string_view part)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) {
        ++n;
    }
    return n;
}

} // namespace genicam_test
