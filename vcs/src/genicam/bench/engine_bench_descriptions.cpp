#include "engine_bench_descriptions.h"

#include <fmt/format.h>

#include <iterator>

namespace genicam_bench {

namespace {

void append_block(fmt::memory_buffer& out, std::size_t b, bool unresolved)
{
    const std::uint64_t base = 0x10000 + b * 0x40;
    fmt::format_to(std::back_inserter(out),
                   R"(  <Integer Name="Sel{0}">
    <pSelected>Idx{0}</pSelected>
    <Value>0</Value><Min>0</Min><Max>3</Max>
  </Integer>
  <Integer Name="Idx{0}">
    <pIndex>Sel{0}</pIndex>
    <ValueIndexed Index="0">10</ValueIndexed><ValueIndexed Index="1">11</ValueIndexed>
    <ValueIndexed Index="2">12</ValueIndexed><ValueDefault>0</ValueDefault>
  </Integer>
  <Integer Name="Int{0}">
    <Value>5</Value><Min>0</Min><Max>100</Max><Inc>1</Inc>
  </Integer>
  <Integer Name="Guard{0}">
    <pIsImplemented>Int{0}</pIsImplemented><pIsAvailable>Bool{0}</pIsAvailable>
    <Value>1</Value>
  </Integer>
  <Integer Name="Link{0}">
    <pValue>Reg{0}</pValue><pMin>Int{0}</pMin><Max>1000</Max>
  </Integer>
  <IntReg Name="Reg{0}">
    <Address>0x{1:X}</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort>
    <Cachable>WriteThrough</Cachable><Sign>Unsigned</Sign><Endianess>LittleEndian</Endianess>
  </IntReg>
  <IntReg Name="RegNC{0}">
    <Address>0x{2:X}</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort>
    <Cachable>NoCache</Cachable><Sign>Signed</Sign><Endianess>BigEndian</Endianess>
  </IntReg>
  <Float Name="Flt{0}">
    <Value>1.5</Value><Min>0</Min><Max>10</Max>
  </Float>
  <FloatReg Name="FReg{0}">
    <Address>0x{3:X}</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort>
    <Cachable>WriteAround</Cachable><Endianess>LittleEndian</Endianess>
  </FloatReg>
  <Enumeration Name="Enum{0}">
    <EnumEntry Name="Enum{0}_A"><Value>0</Value></EnumEntry>
    <EnumEntry Name="Enum{0}_B"><Value>1</Value></EnumEntry>
    <EnumEntry Name="Enum{0}_C"><Value>2</Value></EnumEntry>
    <pValue>Int{0}</pValue>
  </Enumeration>
  <Boolean Name="Bool{0}">
    <pValue>Int{0}</pValue><OnValue>5</OnValue><OffValue>0</OffValue>
  </Boolean>
  <Command Name="Cmd{0}">
    <pValue>RegNC{0}</pValue><CommandValue>1</CommandValue>
  </Command>
  <String Name="Str{0}">
    <Value>text {0}</Value>
  </String>
  <IntSwissKnife Name="ISK{0}">
    <pVariable Name="A">Int{0}</pVariable><pVariable Name="B">Idx{0}</pVariable>
    <Constant Name="K">3</Constant>
    <Formula>(A + B * K) &lt;&lt; 1</Formula>
  </IntSwissKnife>
  <SwissKnife Name="FSK{0}">
    <pVariable Name="X">Flt{0}</pVariable>
    <Formula>X * 2.5 + SQRT(X)</Formula>
  </SwissKnife>
  <Converter Name="Conv{0}">
    <pVariable Name="Y">Int{0}</pVariable>
    <FormulaTo>FROM * Y</FormulaTo><FormulaFrom>TO / Y</FormulaFrom>
    <pValue>Flt{0}</pValue>
  </Converter>
)",
                   b, base, base + 8, base + 16);
    fmt::format_to(std::back_inserter(out),
                   R"(  <Category Name="Block{0}">
    <pFeature>Sel{0}</pFeature><pFeature>Idx{0}</pFeature><pFeature>Int{0}</pFeature>
    <pFeature>Guard{0}</pFeature><pFeature>Link{0}</pFeature><pFeature>Reg{0}</pFeature>
    <pFeature>RegNC{0}</pFeature><pFeature>Flt{0}</pFeature><pFeature>FReg{0}</pFeature>
    <pFeature>Enum{0}</pFeature><pFeature>Bool{0}</pFeature><pFeature>Cmd{0}</pFeature>
    <pFeature>Str{0}</pFeature><pFeature>ISK{0}</pFeature><pFeature>FSK{0}</pFeature>
    <pFeature>Conv{0}</pFeature>{1}
  </Category>
)",
                   b, unresolved ? fmt::format("<pFeature>Missing{0}</pFeature><pFeature>Gone{0}</pFeature>", b)
                                 : std::string());
}

} // namespace

std::string make_description(std::size_t features, bool unresolved)
{
    const std::size_t blocks = (features + features_per_block - 1) / features_per_block;
    fmt::memory_buffer out;
    fmt::format_to(std::back_inserter(out),
                   "<?xml version=\"1.0\"?>\n<RegisterDescription ModelName=\"Bench\" VendorName=\"Bench\" "
                   "StandardNameSpace=\"GEV\" MajorVersion=\"1\" MinorVersion=\"0\" SubMinorVersion=\"0\">\n"
                   "  <Category Name=\"Root\">\n");
    for (std::size_t b = 0; b < blocks; ++b)
        fmt::format_to(std::back_inserter(out), "    <pFeature>Block{}</pFeature>\n", b);
    fmt::format_to(std::back_inserter(out), "  </Category>\n");
    for (std::size_t b = 0; b < blocks; ++b)
        append_block(out, b, unresolved);
    fmt::format_to(std::back_inserter(out), "  <Port Name=\"Device\"/>\n</RegisterDescription>\n");
    return fmt::to_string(out);
}

} // namespace genicam_bench
