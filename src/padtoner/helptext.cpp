#include "padtoner/helptext.hpp"

namespace padtoner {

namespace {

// Each line as UTF-8 text (for the reader) and as the Shift-JIS bytes printed.
// A Japanese character is two escaped bytes; a literal is split where an
// escape would otherwise swallow the hex digit that follows it.
constexpr std::array<HelpLine, kHelpLineCount> kHelpLines{{
    {">padtoner data.txt wave.wav",
     ">padtoner data.txt wave.wav"},
    {"",
     ""},
    {"data.txtに記述してあるデータをもとにDTMF信号列を生成し，ファイル",
     "data.txt\x82\xC9\x8B\x4C\x8F\x71\x82\xB5\x82\xC4\x82\xA0\x82\xE9\x83\x66\x81\x5B\x83\x5E\x82\xF0\x82\xE0\x82\xC6\x82\xC9" "DTMF\x90\x4D\x8D\x86\x97\xF1\x82\xF0\x90\xB6\x90\xAC\x82\xB5\x81\x43\x83\x74\x83\x40\x83\x43\x83\x8B"},
    {"wave.wavに出力します。",
     "wave.wav\x82\xC9\x8F\x6F\x97\xCD\x82\xB5\x82\xDC\x82\xB7\x81\x42"},
    {"",
     ""},
    {"data.txtの書式",
     "data.txt\x82\xCC\x8F\x91\x8E\xAE"},
    {"//コメントはこのように書く",
     "//\x83\x52\x83\x81\x83\x93\x83\x67\x82\xCD\x82\xB1\x82\xCC\x82\xE6\x82\xA4\x82\xC9\x8F\x91\x82\xAD"},
    {"//padtoner.exe用データファイル",
     "//padtoner.exe\x97\x70\x83\x66\x81\x5B\x83\x5E\x83\x74\x83\x40\x83\x43\x83\x8B"},
    {"SamplingFrequency        8000     //[Hz] 8000,11025,22050,44100のどれか",
     "SamplingFrequency        8000     //[Hz] 8000,11025,22050,44100\x82\xCC\x82\xC7\x82\xEA\x82\xA9"},
    {"QuantizationBitLength    8        //[bit]  8 or 16",
     "QuantizationBitLength    8        //[bit]  8 or 16"},
    {"Amplitude                30       //[%] 0..100",
     "Amplitude                30       //[%] 0..100"},
    {"NoiseAmplitude           00       //[%] 0..100",
     "NoiseAmplitude           00       //[%] 0..100"},
    {"PNoiseAmplitude          00       //[%] 0..100 電源ラインノイズ(50Hz)",
     "PNoiseAmplitude          00       //[%] 0..100 \x93\x64\x8C\xB9\x83\x89\x83\x43\x83\x93\x83\x6D\x83\x43\x83\x59(50Hz)"},
    {"LeaderDuration           1000     //[msec]前後につけるリーダ部空白長さ",
     "LeaderDuration           1000     //[msec]\x91\x4F\x8C\xE3\x82\xC9\x82\xC2\x82\xAF\x82\xE9\x83\x8A\x81\x5B\x83\x5F\x95\x94\x8B\xF3\x94\x92\x92\xB7\x82\xB3"},
    {"ToneDuration             50       //[msec]DTMF信号継続時間",
     "ToneDuration             50       //[msec]DTMF\x90\x4D\x8D\x86\x8C\x70\x91\xB1\x8E\x9E\x8A\xD4"},
    {"SilenceDuration          30       //[msec]無信号時間",
     "SilenceDuration          30       //[msec]\x96\xB3\x90\x4D\x8D\x86\x8E\x9E\x8A\xD4"},
    {"RampDuration             3        //[msec]信号立ち上がり立下り時間",
     "RampDuration             3        //[msec]\x90\x4D\x8D\x86\x97\xA7\x82\xBF\x8F\xE3\x82\xAA\x82\xE8\x97\xA7\x89\xBA\x82\xE8\x8E\x9E\x8A\xD4"},
    {"DTMFData                 \"0550123456\" //符号データ",
     "DTMFData                 \"0550123456\" //\x95\x84\x8D\x86\x83\x66\x81\x5B\x83\x5E"},
    {"//符号データとは「0123456789*#ABCD」で構成される",
     "//\x95\x84\x8D\x86\x83\x66\x81\x5B\x83\x5E\x82\xC6\x82\xCD\x81\x75" "0123456789*#ABCD\x81\x76\x82\xC5\x8D\x5C\x90\xAC\x82\xB3\x82\xEA\x82\xE9"},
    {"//電話用のDTMFの規定では",
     "//\x93\x64\x98\x62\x97\x70\x82\xCC" "DTMF\x82\xCC\x8B\x4B\x92\xE8\x82\xC5\x82\xCD"},
    {"//信号の最小継続時間：　50ms以上",
     "//\x90\x4D\x8D\x86\x82\xCC\x8D\xC5\x8F\xAC\x8C\x70\x91\xB1\x8E\x9E\x8A\xD4\x81\x46\x81\x40" "50ms\x88\xC8\x8F\xE3"},
    {"//無信号区間の最小継続時間：　30ms以上",
     "//\x96\xB3\x90\x4D\x8D\x86\x8B\xE6\x8A\xD4\x82\xCC\x8D\xC5\x8F\xAC\x8C\x70\x91\xB1\x8E\x9E\x8A\xD4\x81\x46\x81\x40" "30ms\x88\xC8\x8F\xE3"},
}};

}  // namespace

const std::array<HelpLine, kHelpLineCount>& helpLines() { return kHelpLines; }

std::string helpText() {
    std::string text;
    for (const HelpLine& line : kHelpLines) {
        text += line.sjis;
        text += '\n';
    }
    return text;
}

}  // namespace padtoner
