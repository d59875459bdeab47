// The floor of the change-list benchmark: both exports parsed with the XML library's own file loader and
// default options, nothing more. No comparison can read two files faster than this.
// usage: bench_plain_load OLD.xml NEW.xml

#include <pugixml.hpp>

int main(int argc, char **argv)
{
    if (argc != 3)
        return 2;
    pugi::xml_document oldDoc, newDoc;
    return oldDoc.load_file(argv[1]) && newDoc.load_file(argv[2]) ? 0 : 1;
}
