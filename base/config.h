// Configuration of the program's peers, read from "config.json" in
// ConfigFolder(); each value may be overridden by an environment variable
// (tests and the demo point the program at the testbed this way).
//
//   key            environment            default
//   cloud_host     VORTA_CLOUD_HOST       "127.0.0.1"
//   ca_file        VORTA_CA_FILE          ""   (extra CA bundle for TLS)
//   device_port    VORTA_DEVICE_PORT      ""   (a tty path used instead of discovery)
//   facebook_auth_url      VORTA_FACEBOOK_AUTH_URL      the provider's OAuth dialog
//   facebook_redirect_url  VORTA_FACEBOOK_REDIRECT_URL  its login-success page for desktop programs
//   facebook_graph_url     VORTA_FACEBOOK_GRAPH_URL     its Graph API base ("me" is appended)
//   facebook_client_id     VORTA_FACEBOOK_CLIENT_ID     ""   (the social sign-in is off without it)
//   map_tile_url   VORTA_MAP_TILE_URL     ""   (online map tiles drawn over the
//                  offline basemap, e.g. "https://tiles.example/{z}/{x}/{y}.png";
//                  only http and https addresses; empty: offline basemap only)
// The three provider addresses default to the provider's public endpoints.
#pragma once

#include <string>

struct Config {
    std::string cloud_host = "127.0.0.1";
    std::string ca_file;
    std::string device_port;
    std::string facebook_auth_url = "https://www.facebook.com/v6.0/dialog/oauth";
    std::string facebook_redirect_url = "https://www.facebook.com/connect/login_success.html";
    std::string facebook_graph_url = "https://graph.facebook.com/v6.0/";
    std::string facebook_client_id;
    std::string map_tile_url;
};

// The configuration from config.json's text (any text: what is not a JSON
// object, or a value that is not text, gives the defaults), then the
// environment's overrides.
Config ParseConfig(const std::string& text);

// Loaded on first use and kept; Reload re-reads (tests).
const Config& GetConfig();
void ReloadConfig();
