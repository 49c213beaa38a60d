// placeholder: filled in by its owner
namespace uninst {}
