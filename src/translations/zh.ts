<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>DialogAddUser</name>
    <message>
        <source>&amp;OK</source>
        <translation>&amp;确定</translation>
    </message>
    <message>
        <source>Add New User</source>
        <translation>添加新用户</translation>
    </message>
    <message>
        <source>Dialog</source>
        <translation>SNMP版本</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>,Agent Lost Connect!</source>
        <translation>,Agent失去连接!</translation>
    </message>
    <message>
        <source>Agent Connected</source>
        <translation>Agent已连接</translation>
    </message>
    <message>
        <source>Agent Unconnected</source>
        <translation>Agent失去连接</translation>
    </message>
    <message>
        <source>Agent and UPS Connected</source>
        <translation>Agent和UPS已连接</translation>
    </message>
    <message>
        <source>Alarm Prompt Dialog</source>
        <translation>告警框</translation>
    </message>
    <message>
        <source>Battery Low</source>
        <translation>电池低压</translation>
    </message>
    <message>
        <source>Battery Low：</source>
        <translation>电池低压:</translation>
    </message>
    <message>
        <source>Battery Normal</source>
        <translation>电池正常</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
    <message>
        <source>Close File</source>
        <translation>关闭文件</translation>
    </message>
    <message>
        <source>Countdown of Shotdown:NO</source>
        <translation>关机倒计时：无</translation>
    </message>
    <message>
        <source>Countdown of Shutdown:%1:%2:%3</source>
        <translation>关机倒计时：%1:%2:%3</translation>
    </message>
    <message>
        <source>Date/Time</source>
        <translation>日期/时间</translation>
    </message>
    <message>
        <source>Do you want to exit Voltiguard?</source>
        <translation>您确定退出Voltiguard?</translation>
    </message>
    <message>
        <source>Event</source>
        <translation>事件</translation>
    </message>
    <message>
        <source>Event Log</source>
        <translation>实时数据</translation>
    </message>
    <message>
        <source>Exit</source>
        <translation>退出</translation>
    </message>
    <message>
        <source>Exit(&amp;Q)</source>
        <translation>退出(&amp;Q)</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>帮助</translation>
    </message>
    <message>
        <source>IP</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>IP:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Internet</source>
        <translation>网络状态</translation>
    </message>
    <message>
        <source>Linux System Shutdown</source>
        <translation>关闭Linux操作系统</translation>
    </message>
    <message>
        <source>Log</source>
        <translation>日志</translation>
    </message>
    <message>
        <source>Maximize(&amp;X)</source>
        <translation>最大化(&amp;X)</translation>
    </message>
    <message>
        <source>Minimize(&amp;N)</source>
        <translation>最小化(&amp;N)</translation>
    </message>
    <message>
        <source>Real Event</source>
        <translation>实时事件</translation>
    </message>
    <message>
        <source>Resume(&amp;R)</source>
        <translation>恢复(&amp;R)</translation>
    </message>
    <message>
        <source>SNMP Create Fail!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>设置</translation>
    </message>
    <message>
        <source>State:</source>
        <translation>状态:</translation>
    </message>
    <message>
        <source>UPS Connected</source>
        <translation>UPS已连接</translation>
    </message>
    <message>
        <source>UPS Fail</source>
        <translation>UPS故障</translation>
    </message>
    <message>
        <source>UPS Fail：</source>
        <translation>UPS故障:</translation>
    </message>
    <message>
        <source>UPS Normal</source>
        <translation>UPS正常</translation>
    </message>
    <message>
        <source>UPS State</source>
        <translation>UPS状态</translation>
    </message>
    <message>
        <source>UPS Unconnected</source>
        <translation>UPS失去连接</translation>
    </message>
    <message>
        <source>Utility Fail</source>
        <translation>市电故障</translation>
    </message>
    <message>
        <source>Utility Fail：</source>
        <translation>市电故障:</translation>
    </message>
    <message>
        <source>Utility Normal</source>
        <translation>市电正常</translation>
    </message>
    <message>
        <source>Warnning</source>
        <translation>告警</translation>
    </message>
    <message>
        <source>Windows System Shutdown</source>
        <translation>关闭Windows操作系统</translation>
    </message>
    <message>
        <source>Voltiguard</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>ip</source>
        <translation>IP</translation>
    </message>
    <message>
        <source>ready connect!</source>
        <translation>已连接!</translation>
    </message>
    <message>
        <source>running as tray!</source>
        <translation>在托盘运行!</translation>
    </message>
</context>
<context>
    <name>Properties</name>
    <message>
        <source>AES128</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>AES196</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>AES256</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Add New user</source>
        <translation>添加新用户</translation>
    </message>
    <message>
        <source>Add User Dialog</source>
        <translation>添加用户对话框</translation>
    </message>
    <message>
        <source>Authentication Password:</source>
        <translation>认证密码:</translation>
    </message>
    <message>
        <source>Authentication Protocol:</source>
        <translation>认证协议:</translation>
    </message>
    <message>
        <source>Changes are only stored if this button is clicked</source>
        <translation>点击按钮保存设置</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
    <message>
        <source>DES</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Delete User</source>
        <translation>删除用户</translation>
    </message>
    <message>
        <source>Delete the selected user</source>
        <translation>删除选择的用户</translation>
    </message>
    <message>
        <source>Dialog</source>
        <translation>SNMP版本</translation>
    </message>
    <message>
        <source>HMAC-MD5</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>HMAC-SHA</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>None</source>
        <translation>无</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>Privacy Password:</source>
        <translation>隐私密码:</translation>
    </message>
    <message>
        <source>Privacy Protocol:</source>
        <translation>隐私协议:</translation>
    </message>
    <message>
        <source>Reset</source>
        <translation>重置</translation>
    </message>
    <message>
        <source>Reset the values to the old values</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Security Name:</source>
        <translation>安全名:</translation>
    </message>
    <message>
        <source>User-Based Security Model</source>
        <translation>基于用户保护等级</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>OK</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>The application is running!</source>
        <translation>应用程序已经运行！</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>告警</translation>
    </message>
</context>
</TS>
