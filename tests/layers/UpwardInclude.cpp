// Never part of a build that succeeds: the tests layers.upward_include.* compile it
// with a layer's include roots and a header of the layer above, and pass only when
// the compiler cannot find that header.
#include VAREK_UPWARD_HEADER
