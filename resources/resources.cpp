// The resource data itself is compiled in by rcc; this file only gives the
// library a translation unit of its own.
namespace brenvale {
int resourcesLinked() {
    return 1;
}
}  // namespace brenvale
