#include "exporter/http_server.h"

#include <atomic>
#include <optional>
#include <thread>
#include <vector>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include "exporter/exposition.h"

namespace bcn::metrics {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

// Connections and pending accepts point back here by plain pointer: the
// io_context below owns them, and destroying it (last thing the State does)
// destroys them while `open` and the handler still exist.
struct HttpServer::State {
  Options options;
  Handler metrics;
  std::atomic<std::size_t> open{0};
  asio::io_context io;
  tcp::acceptor acceptor{io};

  State(Options o, Handler h) : options(std::move(o)), metrics(std::move(h)) {}
};

namespace {

class Connection : public std::enable_shared_from_this<Connection> {
 public:
  Connection(tcp::socket socket, HttpServer::State* state) : stream_(std::move(socket)), state_(state) {
    ++state_->open;
  }
  ~Connection() { --state_->open; }

  void start() { read(); }

 private:
  void read() {
    parser_.emplace();
    parser_->header_limit(HttpServer::kHeaderLimit);
    parser_->body_limit(0);
    // One deadline for the whole request, however it trickles in.
    stream_.expires_after(state_->options.requestTimeout);
    http::async_read(stream_, buffer_, *parser_,
                     [self = shared_from_this()](beast::error_code error, std::size_t) { self->onRead(error); });
  }

  void onRead(beast::error_code error) {
    if (error) {
      // A header too large or a body offered gets a plain refusal; timeouts
      // and broken connections just end.
      if (error == http::error::header_limit || error == http::error::body_limit ||
          error == http::error::buffer_overflow) {
        respond(http::status::request_header_fields_too_large, "Request too large.\n", false);
        return;
      }
      close();
      return;
    }
    const auto& request = parser_->get();
    const bool keepAlive = request.keep_alive();
    const bool head = request.method() == http::verb::head;
    if (request.method() != http::verb::get && !head) {
      respond(http::status::method_not_allowed, "Only GET and HEAD.\n", false);
      return;
    }
    const std::string_view target(request.target().data(), request.target().size());
    const std::string_view path = target.substr(0, target.find('?'));
    if (path == "/metrics") {
      std::string body;
      try {
        body = state_->metrics();
      } catch (const std::exception& e) {
        respond(http::status::internal_server_error, std::string("Reading failed: ") + e.what() + "\n", false);
        return;
      }
      respond(http::status::ok, std::move(body), keepAlive, head, kContentType);
    } else if (path == "/") {
      respond(http::status::ok,
              "<html><head><title>Beaconbar exporter</title></head><body><h1>Beaconbar exporter</h1>"
              "<p><a href=\"/metrics\">Metrics</a></p></body></html>\n",
              keepAlive, head, "text/html; charset=utf-8");
    } else {
      respond(http::status::not_found, "Not found.\n", keepAlive, head);
    }
  }

  void respond(http::status status, std::string body, bool keepAlive, bool head = false,
               std::string_view contentType = "text/plain; charset=utf-8") {
    auto response = std::make_shared<http::response<http::string_body>>(status, 11);
    response->set(http::field::server, "beaconbar-exporter");
    response->set(http::field::content_type, beast::string_view(contentType.data(), contentType.size()));
    response->keep_alive(keepAlive);
    const std::size_t length = body.size();
    if (!head) response->body() = std::move(body);
    response->prepare_payload();
    if (head) response->content_length(length);
    stream_.expires_after(state_->options.requestTimeout);
    http::async_write(stream_, *response,
                      [self = shared_from_this(), response, keepAlive](beast::error_code error, std::size_t) {
                        if (error || !keepAlive) {
                          self->close();
                          return;
                        }
                        self->read();
                      });
  }

  void close() {
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
    stream_.close();
  }

  beast::tcp_stream stream_;
  HttpServer::State* const state_;
  beast::flat_buffer buffer_{HttpServer::kHeaderLimit};
  std::optional<http::request_parser<http::empty_body>> parser_;
};

void accept(HttpServer::State* state) {
  state->acceptor.async_accept(asio::make_strand(state->io), [state](beast::error_code error, tcp::socket socket) {
    if (error == asio::error::operation_aborted) return;
    if (!error) {
      if (state->open.load() >= state->options.maxConnections) {
        // Over the cap: no slot, no buffers, closed at once.
        beast::error_code ignored;
        socket.close(ignored);
      } else {
        std::make_shared<Connection>(std::move(socket), state)->start();
      }
    } else if (error == asio::error::no_descriptors || error == asio::error::no_buffer_space) {
      // Out of descriptors: pause briefly instead of spinning on accept.
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    accept(state);
  });
}

}  // namespace

HttpServer::HttpServer(Options options, Handler metrics)
    : state_(std::make_unique<State>(std::move(options), std::move(metrics))) {
  auto& acceptor = state_->acceptor;
  if (state_->options.adoptedSocket >= 0) {
    acceptor.assign(tcp::v6(), state_->options.adoptedSocket);
    // The socket's real family, whatever the protocol object says.
    tcp::endpoint local = acceptor.local_endpoint();
    acceptor.release();
    acceptor.assign(local.protocol(), state_->options.adoptedSocket);
  } else {
    const tcp::endpoint endpoint(asio::ip::make_address(state_->options.address), state_->options.port);
    acceptor.open(endpoint.protocol());
    acceptor.set_option(asio::socket_base::reuse_address(true));
    acceptor.bind(endpoint);
    acceptor.listen(asio::socket_base::max_listen_connections);
  }
  accept(state_.get());
}

HttpServer::~HttpServer() { stop(); }

std::uint16_t HttpServer::port() const { return state_->acceptor.local_endpoint().port(); }

void HttpServer::run() {
  std::vector<std::jthread> helpers;
  for (int i = 1; i < state_->options.threads; ++i) helpers.emplace_back([this] { state_->io.run(); });
  state_->io.run();
}

void HttpServer::stop() { state_->io.stop(); }

std::size_t HttpServer::connections() const { return state_->open.load(); }

}  // namespace bcn::metrics
