// NetCore's modules live in the subfolders; this unit keeps the library
// target linkable while it has none.
namespace bcn::netcore {
int libraryVersion() { return 1; }
}  // namespace bcn::netcore
