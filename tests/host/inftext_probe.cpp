// The INF line rules on each file named: whether it mentions the service, the provider
// text (unresolved, its length) and the driver version.
#include "tk/libcleaner/inftext.h"

#include <fstream>
#include <iostream>

using namespace ts::tk::cleaner;

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        std::ifstream a(argv[i], std::ios::binary), b(argv[i], std::ios::binary), c(argv[i], std::ios::binary);
        bool mentions = textMentionsAny(a, {L"tsusbvid"});
        InfProviderText provider = findProviderText(b);
        std::cout << mentions << " " << provider.unresolved << " " << provider.text.size() << " "
                  << ts::sys::toNarrowString(findDriverVersionText(c)) << "\n";
    }
}
