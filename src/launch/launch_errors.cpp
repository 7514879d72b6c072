// The Korean messages shown when the game cannot be started, by system error code.
#include "launch/launch_errors.h"

#include "common/bounded_text.h"

namespace {

struct ErrorRow {
    uint32_t codes[5];
    int codeCount;
    const char* text;
};

const ErrorRow kRows[] = {
    {{1114, 1154, 1157, 5097, 5080}, 5, "DLL초기화에 실패했습니다.DirectX를 설치해 주시기바랍니다."},
    {{2, 3}, 2, "실행 파일을 찾을수 없습니다. 프로그램을 재설치해 주시기 바랍니다"},
    {{11, 13}, 2, "실행파일이나 또는 DirectX가 손상되었습니다"},
    {{31}, 1, "장치와 드라이버 연결이 잘못되었습니다. 그래픽드라이버 또는 다이렉트X를 재설치해주시기바랍니다"},
    {{32}, 1, "DirectX를 다른 다른 프로그램에서 사용하고 있습니다"},
    {{33}, 1, "DirectX를 다른프로그램에 의해 사용중입니다"},
    {{193}, 1, "실행파일이나 DirectX가 손상되었습니다. 디스크 오류검사를 하고, 프로그램을 재설치해주시기 바랍니다"},
};

}  // namespace

void DescribeLaunchError(uint32_t code, LaunchErrorMessage* message) {
    for (const ErrorRow& row : kRows) {
        for (int i = 0; i < row.codeCount; ++i) {
            if (row.codes[i] == code) {
                message->ownedByMainWindow = true;
                CopyText(message->text, row.text);
                return;
            }
        }
    }
    message->ownedByMainWindow = false;
    FormatText(message->text, sizeof message->text,
               "에러:%d의 인하여 실행시키지 못하였습니다. 운영자에게 문의하시기 바랍니다.", static_cast<int>(code));
}
