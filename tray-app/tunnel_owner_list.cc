#include "tray-app/tunnel_owner_list.h"

#include <QPointer>

#include "tray-app/gui_thread.h"

namespace bcn::tray {

std::string tunnelOwnerLabel(const std::string& interface, const TunnelOwner& owner) {
  if (owner.name.empty()) return interface + "  owner unknown (pid " + std::to_string(owner.pid) + ")";
  return interface + "  " + owner.name + " (pid " + std::to_string(owner.pid) + ")";
}

TunnelOwnerList::TunnelOwnerList(TunnelOwnerQuery query, QObject* parent) : QObject(parent), query_(std::move(query)) {}

TunnelOwnerList::~TunnelOwnerList() = default;  // joins the worker

void TunnelOwnerList::menuOpened() {
  if (asking_) return;
  asking_ = true;
  worker_ = std::jthread([query = query_, self = QPointer<TunnelOwnerList>(this)] {
    auto owners = query();
    applyLater(std::move(self),
               [owners = std::move(owners)](TunnelOwnerList& list) mutable { list.finish(std::move(owners)); });
  });
  emit changed();
}

void TunnelOwnerList::finish(std::expected<cli::TunnelOwnerMap, std::string> owners) {
  asking_ = false;
  owners_ = std::move(owners);
  emit changed();
}

}  // namespace bcn::tray
