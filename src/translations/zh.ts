<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>AboutDialog</name>
    <message>
        <source>&lt;u&gt;User Manual&lt;/u&gt;</source>
        <translation>&lt;u&gt;用户手册&lt;/u&gt;</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>Dialog</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Ver:</source>
        <translation>版本:</translation>
    </message>
    <message>
        <source>Copyright © 2026 Voltiguard</source>
        <translation>版权所有 © 2026 Voltiguard</translation>
    </message>
    <message>
        <source>Published by Voltiguard</source>
        <translation>由 Voltiguard 发布</translation>
    </message>
    <message>
        <source>All rights reserved.</source>
        <translation>保留所有权利。</translation>
    </message>
</context>
<context>
    <name>AlarmDialog</name>
    <message>
        <source>Dialog</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>TextLabel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>OK</source>
        <translation>确定</translation>
    </message>
</context>
<context>
    <name>BtnWidget</name>
    <message>
        <source>Form</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>CloseDialog</name>
    <message>
        <source>power-off refused</source>
        <translation>关机被拒绝</translation>
    </message>
    <message>
        <source>%1: not saved (time budget)</source>
        <translation>%1：未保存（时间预算已用完）</translation>
    </message>
    <message>
        <source>%1 (saved as %2: %3 could not be created)</source>
        <translation>%1（已保存为 %2：无法创建 %3）</translation>
    </message>
    <message>
        <source>%1 (saved as %2)</source>
        <translation>%1（已保存为 %2）</translation>
    </message>
    <message>
        <source>Dialog</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>OK</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>the last closed program:</source>
        <translation>上次关闭的程序：</translation>
    </message>
    <message>
        <source>the last saved program:</source>
        <translation>上次保存的文件:</translation>
    </message>
    <message>
        <source>the last shut down time:</source>
        <translation>上次关机的时间：</translation>
    </message>
</context>
<context>
    <name>DialogAddUser</name>
    <message>
        <source>&amp;OK</source>
        <translation>确定(&amp;O)</translation>
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
    <name>LogDialog</name>
    <message>
        <source>%1 of %2 rows</source>
        <translation>已完成 %1 / %2 条记录</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>Cannot open file for writting</source>
        <translation>无法导出文件</translation>
    </message>
    <message>
        <source>Clean</source>
        <translation>清除</translation>
    </message>
    <message>
        <source>Data had saved in %1!</source>
        <translation>文件保存在%1！</translation>
    </message>
    <message>
        <source>Date/Time</source>
        <translation>日期/时间</translation>
    </message>
    <message>
        <source>Date/Time,IP,Event
</source>
        <translation>日期/时间,IP,事件
</translation>
    </message>
    <message>
        <source>Delete Records?</source>
        <translation>是否删除记录？</translation>
    </message>
    <message>
        <source>Dialog</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Event</source>
        <translation>事件</translation>
    </message>
    <message>
        <source>Event Log</source>
        <translation>事件记录</translation>
    </message>
    <message>
        <source>Export Succeed!</source>
        <translation>导出成功！</translation>
    </message>
    <message>
        <source>Exporting the event log</source>
        <translation>正在导出事件记录</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>确认</translation>
    </message>
    <message>
        <source>Print</source>
        <translation>打印</translation>
    </message>
    <message>
        <source>Printing the event log</source>
        <translation>正在打印事件记录</translation>
    </message>
    <message>
        <source>Save As</source>
        <translation>保存</translation>
    </message>
    <message>
        <source>ip</source>
        <translation>IP</translation>
    </message>
    <message>
        <source>warning</source>
        <translation>告警</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Shutdown refused</source>
        <translation>关机被拒绝</translation>
    </message>
    <message>
        <source>Shutdown Failed</source>
        <translation>关机失败</translation>
    </message>
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
        <source>No notification area: minimised to the task list</source>
        <translation>没有通知区域：窗口已最小化到任务栏</translation>
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
    <message>
        <source>MainWindow</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>PushButton</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>TextLabel</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>PrintRangeDialog</name>
    <message>
        <source>Print</source>
        <translation>打印</translation>
    </message>
    <message>
        <source>The event log holds %1 rows. Print:</source>
        <translation>事件记录共有 %1 条。打印：</translation>
    </message>
    <message>
        <source>The rows of the last</source>
        <translation>最近</translation>
    </message>
    <message>
        <source>The rows shown</source>
        <translation>当前显示的记录</translation>
    </message>
    <message>
        <source>The whole log</source>
        <translation>全部记录</translation>
    </message>
    <message>
        <source>days</source>
        <translation>天的记录</translation>
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
<context>
    <name>SettingsDialog</name>
    <message>
        <source>The directory &quot;%1&quot; cannot be created. Documents will be saved in &quot;%2&quot;.</source>
        <translation>无法创建目录“%1”。文档将保存在“%2”。</translation>
    </message>
    <message>
        <source>161</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>162</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>192.168.1.1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Automatically start</source>
        <translation>开机自动运行程序</translation>
    </message>
    <message>
        <source>Battery low time</source>
        <translation>电池低压等待关机时间</translation>
    </message>
    <message>
        <source>Before shutdown external program to be executed</source>
        <translation>关机前欲执行的外部命令</translation>
    </message>
    <message>
        <source>Brower</source>
        <translation>浏览</translation>
    </message>
    <message>
        <source>Desktop notifications</source>
        <translation>桌面通知</translation>
    </message>
    <message>
        <source>Community</source>
        <translation>公共体</translation>
    </message>
    <message>
        <source>Context Engine ID</source>
        <translation>上下文引擎ID</translation>
    </message>
    <message>
        <source>Context Name</source>
        <translation>上下文名字</translation>
    </message>
    <message>
        <source>Dialog</source>
        <translation>SNMP版本</translation>
    </message>
    <message>
        <source>General options</source>
        <translation>通用选项</translation>
    </message>
    <message>
        <source>IP illegal format!</source>
        <translation>IP格式错误！</translation>
    </message>
    <message>
        <source>IP or PORT is NULL</source>
        <translation>IP 或者端口为空</translation>
    </message>
    <message>
        <source>IP:</source>
        <translation>IP:</translation>
    </message>
    <message>
        <source>MAX running time:</source>
        <translation>最大运行时间：</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>打开</translation>
    </message>
    <message>
        <source>Other Set</source>
        <translation>附加设置</translation>
    </message>
    <message>
        <source>Pop-up alarm box</source>
        <translation>弹出告警框时间间隔</translation>
    </message>
    <message>
        <source>Power Set</source>
        <translation>电源设置</translation>
    </message>
    <message>
        <source>Retries</source>
        <translation>重连次数</translation>
    </message>
    <message>
        <source>SNMP Set</source>
        <translation>SNMP设置</translation>
    </message>
    <message>
        <source>SNMP Version</source>
        <translation>SNMP版本</translation>
    </message>
    <message>
        <source>SNMP port</source>
        <translation>SNMP端口</translation>
    </message>
    <message>
        <source>SNMPv1</source>
        <translation>SNMPv1</translation>
    </message>
    <message>
        <source>SNMPv1/v2 options</source>
        <translation>SNMPv1/v2选择</translation>
    </message>
    <message>
        <source>SNMPv2</source>
        <translation>SNMPv2</translation>
    </message>
    <message>
        <source>SNMPv3</source>
        <translation>SNMPv3</translation>
    </message>
    <message>
        <source>SNMPv3 options</source>
        <translation>SNMPv3选择</translation>
    </message>
    <message>
        <source>SavedfileDirectory:</source>
        <translation>文件保存路径：</translation>
    </message>
    <message>
        <source>Security Level</source>
        <translation>安全等级</translation>
    </message>
    <message>
        <source>Security Name</source>
        <translation>安全名</translation>
    </message>
    <message>
        <source>Select the path to save</source>
        <translation>选择保存的路径</translation>
    </message>
    <message>
        <source>Shutdown system</source>
        <translation>关机时间设置</translation>
    </message>
    <message>
        <source>System Set</source>
        <translation>系统设置</translation>
    </message>
    <message>
        <source>Timeout</source>
        <translation>超时时间</translation>
    </message>
    <message>
        <source>UPS fail time</source>
        <translation>UPS故障等待关机时间</translation>
    </message>
    <message>
        <source>User-Based Security Model</source>
        <translation>基于用户保护等级</translation>
    </message>
    <message>
        <source>Utility fail time</source>
        <translation>市电故障等待关机时间</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Warnning</source>
        <translation>告警</translation>
    </message>
    <message>
        <source>authNoPriv</source>
        <translation>有鉴权无加密</translation>
    </message>
    <message>
        <source>authPriv</source>
        <translation>有鉴权有加密</translation>
    </message>
    <message>
        <source>minute</source>
        <translation>分钟</translation>
    </message>
    <message>
        <source>noAuthnoPriv</source>
        <translation>无鉴权无加密</translation>
    </message>
    <message>
        <source>save the files being opened by other application,automatically</source>
        <translation>关机自动保存打开的程序</translation>
    </message>
    <message>
        <source>sec.</source>
        <translation>秒.</translation>
    </message>
    <message>
        <source>trap port</source>
        <translation>trap端口</translation>
    </message>
</context>
<context>
    <name>SmartHomeMsg</name>
    <message>
        <source>
%1:%2:%3</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1:%2:%3</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
    <message>
        <source>Shut down the operating system Countdown:</source>
        <translation>关闭操作系统倒计时时间:</translation>
    </message>
    <message>
        <source>TextLabel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Widget</source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
