// The administration server tried as an attacker would, over real HTTP: requests from another
// origin, a DNS name pointed at the machine, another machine while no password is set (from a
// network namespace the test makes and removes), the one-time setup address, sessions that end,
// password guessing from one loopback address while the operator logs in from another, settings
// the server cannot serve with, the headers every answer carries, and TLS handshakes an old
// client or cipher attempts.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "config/login_password.h"
#include "platform/host.h"
#include "tests/support/http_client.h"
#include "tests/support/peers.h"
#include "tests/web/server_fixture.h"
#include "web/gate.h"
#include "web/login_throttle.h"

namespace vx {
namespace {

using namespace testing_support;

constexpr std::uint32_t kGuesser = 0x7F000002;  // 127.0.0.2, another client on this machine
constexpr std::uint32_t kStranger = 0x7F000003;

struct Raw {
  std::string method = "GET";
  std::string target = "/";
  std::string host;  // "" leaves the header out
  std::string headers;
  std::string body;
};

Reply send_raw(std::uint16_t port, const Raw& raw, std::uint32_t source = INADDR_LOOPBACK) {
  std::string request = raw.method + " " + raw.target + " HTTP/1.1\r\n";
  if (!raw.host.empty()) request += "Host: " + raw.host + "\r\n";
  request += "Connection: close\r\n" + raw.headers;
  if (raw.method == "POST")
    request += "Content-Length: " + std::to_string(raw.body.size()) + "\r\n";
  return http_exchange(port, request + "\r\n" + raw.body, source);
}

class Security : public WebServer {
 protected:
  std::string own_host() const { return "127.0.0.1:" + std::to_string(port_); }
  std::string own_origin() const { return "http://" + own_host(); }
  std::string hash_now() {
    const CoreLock lock = core_lock();
    return config_login_hash(config_object(config_document(), "global"));
  }
  void set_password(const std::string& password) {
    change_global([&](cJSON* global) { login_password_store(global, password); });
  }
  std::string login(const std::string& password, std::uint32_t source = INADDR_LOOPBACK) {
    return session_of(
        send_raw(port_, {"POST", "/login", own_host(), kForm, "auth=" + password}, source));
  }
};

TEST_F(Security, ChangesFromAnotherOriginAreRefused) {
  set_password("right");
  const std::string session = login("right");
  ASSERT_FALSE(session.empty());
  const std::string document = document_text(port_, 1);
  // Refused before anything was looked at, or let through to the path (whatever it answers).
  constexpr int kRefused = 403;
  constexpr int kThrough = 0;
  struct Case {
    const char* what;
    Raw raw;
    int status;
  };
  const std::string as_page = cookie(session);
  const Case cases[] = {
      {"a form of another site",
       {"POST", "/config", own_host(),
        as_page + "Content-Type: text/plain\r\nOrigin: http://evil.example\r\n", document},
       kRefused},
      {"a page on another port",
       {"POST", "/config", own_host(),
        as_page + "Sec-Fetch-Site: same-site\r\nOrigin: http://127.0.0.1:" +
            std::to_string(port_ + 1) + "\r\n",
        document},
       kRefused},
      {"a sandboxed page",
       {"POST", "/config", own_host(), as_page + "Origin: null\r\n", document},
       kRefused},
      {"an older browser's Referer",
       {"POST", "/config", own_host(), as_page + "Referer: http://evil.example/page\r\n", document},
       kRefused},
      {"an <img> start",
       {"GET", "/channel1?start", own_host(),
        as_page + "Sec-Fetch-Site: cross-site\r\nSec-Fetch-Dest: image\r\n", ""},
       kRefused},
      {"a login from another site",
       {"POST", "/login", own_host(), kForm + "Sec-Fetch-Site: cross-site\r\n", "auth=right"},
       kRefused},
      {"a logout from another site",
       {"POST", "/logout", own_host(), as_page + "Origin: http://evil.example\r\n", ""},
       kRefused},
      // The same from the page itself, and from a script that sends no browser signal.
      {"the page's own post",
       {"POST", "/config", own_host(),
        as_page + "Sec-Fetch-Site: same-origin\r\nOrigin: " + own_origin() + "\r\n", document},
       kThrough},
      {"an older browser's own post",
       {"POST", "/config", own_host(), as_page + "Origin: " + own_origin() + "\r\n", document},
       kThrough},
      {"a script's post", {"POST", "/config", own_host(), as_page, document}, kThrough},
      {"the page's own start",
       {"GET", "/channel1?start", own_host(), as_page + "Sec-Fetch-Site: same-origin\r\n", ""},
       kThrough},
  };
  for (const Case& c : cases) {
    const std::string before = file_text();
    const Reply reply = send_raw(port_, c.raw);
    if (c.status == kThrough) {
      EXPECT_NE(reply.status(), kRefused) << c.what << "\n" << reply.head << reply.body;
      EXPECT_NE(reply.status(), 0) << c.what;
    } else {
      EXPECT_EQ(reply.status(), kRefused) << c.what << "\n" << reply.head << reply.body;
      EXPECT_EQ(file_text(), before) << c.what;
      EXPECT_FALSE(reply.has_header("Set-Cookie")) << c.what;
      EXPECT_NE(reply.body.find("nothing was changed"), std::string::npos) << c.what;
    }
  }
  EXPECT_EQ(events_.reloads, 3) << "only the three posts that got through replaced the document";
  EXPECT_FALSE(
      session_of(send_raw(port_, {"POST", "/login", own_host(), kForm, "auth=right"})).empty());
}

TEST_F(Security, WithoutAPasswordOnlyKnownNamesAreAnswered) {
  struct Case {
    std::string host;
    int status;
  };
  const Case cases[] = {
      {own_host(), 200},
      {"localhost:" + std::to_string(port_), 200},
      {host_name() + ":" + std::to_string(port_), 200},
      {"[::1]:" + std::to_string(port_), 200},
      {"", 200},  // HTTP/1.0 without a Host header
      {"evil.example:" + std::to_string(port_), 403},
      {"127.0.0.1.evil.example", 403},
      {"localhost.evil.example:" + std::to_string(port_), 403},
  };
  for (const Case& c : cases) {
    for (const char* target : {"/config", "/status", "/"}) {
      const Reply reply = send_raw(port_, {"GET", target, c.host, "", ""});
      EXPECT_EQ(reply.status(), c.status) << c.host << target;
      if (c.status == 403) {
        EXPECT_EQ(reply.body.find("\"channels\""), std::string::npos) << c.host << target;
        EXPECT_NE(reply.body.find("set a password"), std::string::npos) << reply.body;
      }
    }
  }
  // With a password the name no longer matters: without a session it opens nothing anyway.
  set_password("right");
  const Reply renamed = send_raw(port_, {"GET", "/config", "evil.example", "", ""});
  EXPECT_EQ(renamed.status(), 200);
  EXPECT_EQ(renamed.body, login_page_text());
}

TEST_F(Security, TheSetupAddressSetsTheFirstPasswordOnce) {
  const std::string token = web_setup_token();
  ASSERT_TRUE(std::regex_match(token, std::regex("[0-9a-f]{32}")));
  EXPECT_EQ(http_get(port_, "/setup?token=" + std::string(32, '0')).status(), 403);
  EXPECT_EQ(http_get(port_, "/setup").status(), 403);
  const Reply form = http_get(port_, web_setup_path());
  EXPECT_EQ(form.status(), 200);
  EXPECT_NE(form.body.find("name=\"confirm\""), std::string::npos) << form.body;

  const std::string setup = "token=" + token;
  struct Case {
    std::string body;
    int status;
  };
  const Case refused[] = {
      {"token=" + std::string(32, 'f') + "&auth=abc&confirm=abc", 403},
      {setup + "&auth=abc&confirm=abd", 400},
      {setup + "&auth=&confirm=", 400},
      {setup + "&auth=" + std::string(1000, 'a') + "&confirm=" + std::string(1000, 'a'), 400},
  };
  for (const Case& c : refused) {
    EXPECT_EQ(http_post(port_, "/setup", c.body, kForm).status(), c.status) << c.body.substr(0, 50);
    EXPECT_EQ(hash_now(), "") << c.body.substr(0, 50);
  }
  const Reply set =
      http_post(port_, "/setup", setup + "&auth=F%C3%BCrst+1&confirm=F%C3%BCrst+1", kForm);
  EXPECT_EQ(set.status(), 301);
  EXPECT_TRUE(login_password_matches(hash_now(), "F\xc3\xbcrst 1"));
  const JsonPtr saved = json_parse(file_text());
  EXPECT_EQ(config_login_hash(config_object(saved.get(), "global")), hash_now()) << "saved";
  EXPECT_EQ(http_get(port_, "/status", cookie(session_of(set))).status(), 200);
  // Once a password is set, the setup address is just another page behind the login.
  EXPECT_EQ(http_post(port_, "/setup", setup + "&auth=x&confirm=x", kForm).body, login_page_text());
  EXPECT_TRUE(login_password_matches(hash_now(), "F\xc3\xbcrst 1"));
  // The token is spent: with the password removed again, it opens nothing.
  set_password("");
  EXPECT_EQ(http_get(port_, "/setup?token=" + token).status(), 403);
  EXPECT_EQ(http_get(port_, web_setup_path()).status(), 200) << "a new one does";
}

TEST_F(Security, SessionsEndWithTheLogoutAndWithEveryNewPassword) {
  set_password("first");
  const std::string mine = login("first");
  const std::string yours = login("first");
  ASSERT_FALSE(mine.empty());
  ASSERT_NE(mine, yours);
  const auto opens = [&](const std::string& session) {
    return http_get(port_, "/status", cookie(session)).header("Content-Type") == "application/json";
  };
  EXPECT_TRUE(opens(mine));
  EXPECT_TRUE(opens(yours));

  const Reply out = http_post(port_, "/logout", "", cookie(mine));
  EXPECT_EQ(out.status(), 301);
  EXPECT_EQ(out.header("Set-Cookie"), "vx_session=; Path=/; HttpOnly; SameSite=Strict; Max-Age=0");
  EXPECT_FALSE(opens(mine));
  EXPECT_TRUE(opens(yours)) << "a logout ends only its own session";

  // A configuration sent back as it was read (the placeholder) keeps the password and sessions.
  const std::string shown = http_get(port_, "/config", cookie(yours)).body;
  EXPECT_EQ(shown.find("argon2"), std::string::npos);
  const std::string hash = hash_now();
  EXPECT_EQ(http_post(port_, "/config", shown, cookie(yours)).status(), 200);
  EXPECT_EQ(hash_now(), hash);
  EXPECT_TRUE(opens(yours));
  EXPECT_EQ(http_get(port_, "/runtime", "Authorization: Bearer first\r\n").status(), 200);

  // A new password through the page: every session made before ends, the poster gets a new one.
  JsonPtr changed = json_parse(shown);
  config_set_string(config_object(changed.get(), "global"), "loginPass", "second");
  const Reply posted = http_post(port_, "/config", *json_print(changed.get()), cookie(yours));
  EXPECT_EQ(posted.status(), 200);
  const std::string renewed = session_of(posted);
  EXPECT_FALSE(opens(yours));
  EXPECT_TRUE(opens(renewed));
  EXPECT_EQ(http_get(port_, "/runtime", "Authorization: Bearer first\r\n").status(), 401)
      << "a script's verified old password is forgotten too";

  // A new password from the desktop ends the page's sessions as well.
  set_password("third");
  EXPECT_FALSE(opens(renewed));
  EXPECT_TRUE(opens(login("third")));
}

TEST_F(Security, GuessesAreSlowedForTheGuessingAddressOnly) {
  set_password("right");
  testing::internal::CaptureStderr();
  std::vector<int> statuses;
  Reply locked;
  for (int attempt = 0; attempt < kFreeLoginFailures + 1; ++attempt) {
    locked = send_raw(port_, {"POST", "/login", own_host(), kForm, "auth=wrong"}, kGuesser);
    statuses.push_back(locked.status());
  }
  EXPECT_EQ(statuses, (std::vector<int>{403, 403, 403, 403, 403, 429}));
  EXPECT_EQ(locked.header("Retry-After"), "1");
  EXPECT_NE(locked.body.find("Too many wrong passwords"), std::string::npos);
  // The right password from the locked address waits too; scripts' headers count the same.
  EXPECT_EQ(send_raw(port_, {"POST", "/login", own_host(), kForm, "auth=right"}, kGuesser).status(),
            429);
  EXPECT_EQ(send_raw(port_, {"GET", "/status", own_host(), "Authorization: Bearer right\r\n", ""},
                     kGuesser)
                .status(),
            429);

  // The operator at another address logs in at once.
  EXPECT_FALSE(login("right").empty());
  EXPECT_EQ(http_get(port_, "/status", "Authorization: Bearer right\r\n").status(), 200);

  // Another guesser's wrong Authorization headers lock only that address.
  std::vector<int> scripted;
  for (int attempt = 0; attempt < kFreeLoginFailures + 1; ++attempt) {
    scripted.push_back(
        send_raw(port_,
                 {"GET", "/metrics", own_host(),
                  "Authorization: Basic " + std::string("eDp3cm9uZw==") + "\r\n", ""},  // "x:wrong"
                 kStranger)
            .status());
  }
  EXPECT_EQ(scripted, (std::vector<int>{401, 401, 401, 401, 401, 429}));

  // Each lock-out is said once, with its address.
  const std::string said = testing::internal::GetCapturedStderr();
  const auto count = [](const std::string& text, const std::string& part) {
    int found = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
      ++found;
    return found;
  };
  EXPECT_EQ(count(said, "127.0.0.2 gave too many wrong passwords"), 1) << said;
  EXPECT_EQ(count(said, "127.0.0.3 gave too many wrong passwords"), 1) << said;
  EXPECT_EQ(count(log_text(), "127.0.0.2 gave too many wrong passwords; its next login waits 1 s"),
            1);
  EXPECT_EQ(said.find("right"), std::string::npos) << "no password is ever said";
  EXPECT_EQ(log_text().find("auth=right"), std::string::npos);

  // Once the lock-out is over, the right password clears the address.
  std::this_thread::sleep_for(1100ms);
  EXPECT_FALSE(login("right", kGuesser).empty());
}

TEST_F(Security, SettingsTheServerCannotServeAreRefusedWhole) {
  ASSERT_TRUE(make_tls_files()) << read_text(folder_ / "openssl.err");

  const auto posted = [&](auto change) {
    JsonPtr document = json_parse(document_text(port_, 1));
    change(config_object(document.get(), "global"));
    return http_post(port_, "/config", *json_print(document.get()));
  };
  const auto tls = [&](const std::string& cert, const std::string& key) {
    const std::string cert_path = cert.empty() ? "" : (folder_ / cert).string();
    const std::string key_path = key.empty() ? "" : (folder_ / key).string();
    return [=](cJSON* global) {
      config_set_bool(global, "sslEnable", true);
      config_set_string(global, "sslCert", cert_path);
      config_set_string(global, "sslKey", key_path);
    };
  };
  struct Case {
    const char* what;
    std::function<void(cJSON*)> change;
    const char* reason;
  };
  const Case cases[] = {
      {"a rule without its address",
       [](cJSON* global) { config_set_string(global, "ipACL", "deny all allow"); },
       "the address rules cannot be read: address rule 2 (\"allow\") has no address"},
      {"a prefix too long",
       [](cJSON* global) { config_set_string(global, "ipACL", "allow 10.0.0.0/33"); },
       "address rule 1 (\"allow 10.0.0.0/33\")"},
      {"a broken certificate", tls("garbage.pem", "key.pem"), "TLS cannot be switched on"},
      {"a missing key", tls("cert.pem", "missing.pem"), "missing.pem"},
      {"the key for the certificate swapped", tls("key.pem", "cert.pem"), "cannot be used"},
      {"no files at all", tls("", ""), "no certificate file is set"},
      {"a password too long",
       [](cJSON* global) { config_set_string(global, "loginPass", std::string(1000, 'p')); },
       "longer than 999 bytes"},
      {"a port beyond the last",
       [](cJSON* global) { config_set_int(global, "httpPort", 99999); },
       "\"httpPort\" must be a port from 1 to 65535"},
      {"a port given as a text",
       [](cJSON* global) { config_set_string(global, "httpPort", "9600"); },
       "\"httpPort\" must be a port from 1 to 65535"},
      {"a port with a fraction",
       [](cJSON* global) {
         cJSON_DeleteItemFromObjectCaseSensitive(global, "httpPort");
         cJSON_AddNumberToObject(global, "httpPort", 9600.5);
       },
       "\"httpPort\" must be a port from 1 to 65535"},
      {"no viewer per address",
       [](cJSON* global) { config_set_int(global, "viewersPerAddress", 0); },
       "\"viewersPerAddress\" must be a number from 1 to 100000"},
  };
  for (const Case& c : cases) {
    const std::string before = file_text();
    const Reply refused = posted(c.change);
    EXPECT_EQ(refused.status(), 400) << c.what;
    EXPECT_NE(refused.body.find(c.reason), std::string::npos) << c.what << ": " << refused.body;
    EXPECT_TRUE(refused.body.ends_with("; nothing was changed")) << refused.body;
    EXPECT_EQ(file_text(), before) << c.what;
    EXPECT_EQ(http_get(port_, "/runtime").status(), 200) << c.what << ": the server as it was";
  }
  EXPECT_EQ(events_.restarts, 0);

  // Files that can be used are taken, and the server moves to HTTPS once the answer is out.
  events_.restart_for_real = true;
  EXPECT_EQ(posted(tls("cert.pem", "key.pem")).status(), 200);
  ASSERT_TRUE(wait_until([&] { return events_.restarts == 1; }, 5s));
  events_.restarter.join();
  EXPECT_TRUE(web_server_uses_tls());
}

TEST_F(Security, EveryAnswerForbidsFramingSniffingAndCaching) {
  set_password("right");
  const std::string session = login("right");
  const Reply answers[] = {
      http_get(port_, "/"),                   // the login page
      http_get(port_, "/", cookie(session)),  // the client page
      http_get(port_, "/status", cookie(session)),
      http_get(port_, "/main.js", cookie(session)),
      http_get(port_, "/nothing", cookie(session)),
      send_raw(port_, {"POST", "/config", own_host(), "Origin: http://evil\r\n", "{}"}),
  };
  for (const Reply& reply : answers) {
    EXPECT_EQ(reply.header("X-Frame-Options"), "DENY") << reply.head;
    EXPECT_EQ(reply.header("Content-Security-Policy"), "frame-ancestors 'none'") << reply.head;
    EXPECT_EQ(reply.header("X-Content-Type-Options"), "nosniff") << reply.head;
    EXPECT_EQ(reply.header("Cache-Control"), "no-store") << reply.head;
    EXPECT_FALSE(reply.has_header("Strict-Transport-Security")) << "plain HTTP has none";
  }
}

// An old or weak client cannot even finish its handshake; each refusal is checked against an
// OpenSSL server that does allow it, so the client really offers what is refused.
TEST_F(Security, TlsRefusesOldProtocolsAndCiphersWithoutForwardSecrecy) {
  ASSERT_TRUE(make_tls_files()) << read_text(folder_ / "openssl.err");
  web_server_stop();
  change_global([&](cJSON* global) {
    config_set_bool(global, "sslEnable", true);
    config_set_string(global, "sslCert", (folder_ / "cert.pem").string());
    config_set_string(global, "sslKey", (folder_ / "key.pem").string());
  });
  ASSERT_TRUE(web_server_start()) << web_server_problem().text;

  // The cipher the handshake agreed on, "" when it failed.
  int run = 0;
  const auto handshake = [&](std::uint16_t port, const std::vector<std::string>& offer) {
    std::vector<std::string> argv = {
        "sh", "-c", "echo | openssl s_client -connect 127.0.0.1:" + std::to_string(port)};
    for (const std::string& word : offer)
      argv[2] += " '" + word + "'";
    const std::string name = "s_client" + std::to_string(++run);
    Peer client(argv, folder_ / (name + ".out"), folder_ / (name + ".err"));
    client.wait(20s);
    std::smatch found;
    const std::string out = client.out();
    if (!std::regex_search(out, found, std::regex(R"(Cipher is (\S+))"))) return std::string();
    return found[1] == "(NONE)" ? std::string() : found[1].str();
  };
  struct Case {
    const char* what;
    std::vector<std::string> offer;
    std::vector<std::string> allowing_server;  // s_server options that accept the offer
  };
  const Case refused[] = {
      {"TLS 1.0",
       {"-tls1", "-cipher", "DEFAULT@SECLEVEL=0"},
       {"-tls1", "-cipher", "DEFAULT@SECLEVEL=0"}},
      {"TLS 1.1",
       {"-tls1_1", "-cipher", "DEFAULT@SECLEVEL=0"},
       {"-tls1_1", "-cipher", "DEFAULT@SECLEVEL=0"}},
      {"AES128-SHA (CBC, RSA key exchange)",
       {"-tls1_2", "-cipher", "AES128-SHA@SECLEVEL=0"},
       {"-tls1_2", "-cipher", "AES128-SHA@SECLEVEL=0"}},
      {"AES128-GCM-SHA256 (no forward secrecy)",
       {"-tls1_2", "-cipher", "AES128-GCM-SHA256"},
       {"-tls1_2", "-cipher", "AES128-GCM-SHA256"}},
      {"ECDHE with CBC",
       {"-tls1_2", "-cipher", "ECDHE-RSA-AES128-SHA@SECLEVEL=0"},
       {"-tls1_2", "-cipher", "ECDHE-RSA-AES128-SHA@SECLEVEL=0"}},
  };
  for (const Case& c : refused) {
    EXPECT_EQ(handshake(port_, c.offer), "") << c.what << " was accepted";
    const std::uint16_t control_port = free_tcp_port();
    std::vector<std::string> server = {"openssl",
                                       "s_server",
                                       "-quiet",
                                       "-accept",
                                       "127.0.0.1:" + std::to_string(control_port),
                                       "-cert",
                                       (folder_ / "cert.pem").string(),
                                       "-key",
                                       (folder_ / "key.pem").string()};
    server.insert(server.end(), c.allowing_server.begin(), c.allowing_server.end());
    Peer control(server, folder_ / "s_server.out", folder_ / "s_server.err");
    ASSERT_TRUE(wait_until([&] { return bool(connect_local(control_port)); }, 10s))
        << control.report();
    EXPECT_NE(handshake(control_port, c.offer), "") << c.what << ": the client never offered it";
  }
  EXPECT_EQ(handshake(port_, {"-tls1_2", "-cipher", "ECDHE-RSA-AES128-GCM-SHA256"}),
            "ECDHE-RSA-AES128-GCM-SHA256");
  EXPECT_EQ(handshake(port_, {"-tls1_3"}).rfind("TLS_", 0), 0u);
}

// While no password is set a client on another machine may look but not change anything, and is
// told how to set one; the setup address works from there. The other machine is a network
// namespace with a veth pair in a benchmarking range (198.18.0.0/15), made and removed here.
class RemoteHost {
 public:
  explicit RemoteHost(const fs::path& folder) : folder_(folder) {
    const std::string id = std::to_string(getpid() % 100000);
    ns_ = "vxweb" + id;
    host_side_ = "vxh" + id;
    const std::string subnet = "198.18." + std::to_string(getpid() % 250) + ".";
    host_address_ = subnet + "1";
    ready_ = ip({"netns", "add", ns_}) &&
             ip({"link", "add", host_side_, "type", "veth", "peer", "name", "vxn" + id}) &&
             ip({"link", "set", "vxn" + id, "netns", ns_}) &&
             ip({"addr", "add", host_address_ + "/30", "dev", host_side_}) &&
             ip({"link", "set", host_side_, "up"}) &&
             ip({"-n", ns_, "addr", "add", subnet + "2/30", "dev", "vxn" + id}) &&
             ip({"-n", ns_, "link", "set", "vxn" + id, "up"});
  }
  ~RemoteHost() {
    ip({"netns", "del", ns_});  // takes the veth pair with it
    ip({"link", "del", host_side_});
  }
  bool ready() const { return ready_; }
  const std::string& host_address() const { return host_address_; }

  // curl inside the namespace, keeping cookies in a jar unless `jar` is false; the status code,
  // the body in `body`.
  int curl(const std::vector<std::string>& arguments, std::string* body = nullptr,
           bool jar = true) {
    const fs::path out = folder_ / ("remote" + std::to_string(++runs_) + ".body");
    std::vector<std::string> argv = {"ip",   "netns",        "exec",       ns_,
                                     "curl", "-s",           "-o",         out.string(),
                                     "-w",   "%{http_code}", "--max-time", "10"};
    if (jar) {
      for (const char* option : {"-b", "-c"}) {
        argv.push_back(option);
        argv.push_back((folder_ / "jar").string());
      }
    }
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    Peer peer(argv, folder_ / "curl.out", folder_ / "curl.err");
    peer.wait(20s);
    if (body != nullptr) *body = read_text(out);
    return std::atoi(peer.out().c_str());
  }

 private:
  bool ip(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv = {"ip"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    Peer peer(argv, folder_ / "ip.out", folder_ / "ip.err");
    return peer.wait(10s) == 0;
  }
  fs::path folder_;
  std::string ns_;
  std::string host_side_;
  std::string host_address_;
  bool ready_ = false;
  int runs_ = 0;
};

TEST_F(Security, WithoutAPasswordAnotherMachineMayLookButNotChange) {
  if (!find_program("ip") || ::geteuid() != 0) GTEST_SKIP() << "network namespaces need root";
  RemoteHost remote(folder_);
  ASSERT_TRUE(remote.ready()) << read_text(folder_ / "ip.err");
  const std::string base = "http://" + remote.host_address() + ":" + std::to_string(port_);
  const std::string document = document_text(port_, 1);
  std::ofstream(folder_ / "document.json") << document;

  std::string body;
  EXPECT_EQ(remote.curl({base + "/status"}, &body), 200);
  EXPECT_NE(body.find("\"channels\""), std::string::npos) << body;
  const std::string before = file_text();
  EXPECT_EQ(
      remote.curl({"--data-binary", "@" + (folder_ / "document.json").string(), base + "/config"},
                  &body),
      403);
  EXPECT_NE(body.find("Global Settings"), std::string::npos) << body;
  EXPECT_NE(body.find("setup address"), std::string::npos) << body;
  EXPECT_EQ(remote.curl({base + "/channel1?start"}), 403);
  EXPECT_EQ(file_text(), before);
  EXPECT_EQ(http_post(port_, "/config", document).status(), 200) << "this machine may";

  // The setup address sets the password from there, and its session then may change things.
  EXPECT_EQ(remote.curl({base + web_setup_path()}, &body), 200);
  EXPECT_EQ(remote.curl({"--data", "token=" + web_setup_token() + "&auth=Rem0te&confirm=Rem0te",
                         base + "/setup"}),
            301);
  EXPECT_TRUE(login_password_matches(hash_now(), "Rem0te"));
  EXPECT_EQ(
      remote.curl({"--data-binary", "@" + (folder_ / "document.json").string(), base + "/config"}),
      200);
  EXPECT_EQ(remote.curl({base + "/config"}, &body, false), 200);
  EXPECT_EQ(body, login_page_text()) << "without the session, only the login page";
}

}  // namespace
}  // namespace vx
