// Configuration of the program's peers, read from "config.json" in
// ConfigFolder(); each value may be overridden by an environment variable
// (tests and the demo point the program at the testbed this way).
//
//   key            environment            default
//   cloud_host     VORTA_CLOUD_HOST       "127.0.0.1"
//   ca_file        VORTA_CA_FILE          ""   (extra CA bundle for TLS)
//   device_port    VORTA_DEVICE_PORT      ""   (a tty path used instead of discovery)
//   facebook_auth_url   VORTA_FACEBOOK_AUTH_URL
//   facebook_graph_url  VORTA_FACEBOOK_GRAPH_URL
//   facebook_client_id  VORTA_FACEBOOK_CLIENT_ID
#pragma once

#include <string>

struct Config {
    std::string cloud_host = "127.0.0.1";
    std::string ca_file;
    std::string device_port;
    std::string facebook_auth_url;
    std::string facebook_graph_url;
    std::string facebook_client_id;
};

// The configuration from config.json's text (any text: what is not a JSON
// object, or a value that is not text, gives the defaults), then the
// environment's overrides.
Config ParseConfig(const std::string& text);

// Loaded on first use and kept; Reload re-reads (tests).
const Config& GetConfig();
void ReloadConfig();
