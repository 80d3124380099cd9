// The cloud connection of page controllers. Their requests are made in the
// middle of a page action that waits for the answer before its next step;
// this HttpPost sends each request on a worker thread while the UI thread
// waits in ui::WaitOffUi, so the windows keep drawing (with a busy cursor)
// and can be closed meanwhile. Page input is held back until the answer is
// in, so the action's order is kept. On any other thread it is a plain
// HttpPost.
#pragma once

#include "cloud/http_post.h"
#include "ui_engine/ui_engine.h"

class UiHttpPost : public HttpPost {
public:
    using HttpPost::HttpPost;

    std::string request(const void* body, uint32_t len, int is_json, const std::string& verb, const std::string& path,
                        const std::string& headers) override {
        return ui::WaitOffUi([&] { return HttpPost::request(body, len, is_json, verb, path, headers); });
    }
};
